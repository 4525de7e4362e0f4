#pragma once

#include "platform/Services.h"
#include "platform/SystemServices.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// One request as the updater made it.
struct ScriptedRequest {
    std::string url;
    std::string method;
    // The range asked for, first and last byte (last: none for "bytes=N-").
    std::optional<std::uint64_t> first;
    std::optional<std::uint64_t> last;
};

// The answer the web gives, which a test may change before it is given.
// Its Content-Length is the body's unless the change set another or none.
struct ScriptedAnswer {
    int status = 200;
    std::map<std::string, std::string> headers; // by lower-case name
    std::string body;
    // The network fails once so many bytes of the body were given: the
    // transfer raises the error a body cut short raises; with 0 and no
    // headers, the request found no server at all.
    std::optional<std::size_t> failsAfter;
};

// The publisher's servers as a script, without a socket: files by address,
// each range request answered with 206 and its Content-Range as a server
// that takes ranges answers it. Every answer passes change first, where a
// test makes a cache or a network misbehave. A transfer hands the body in
// pieces of the size asked, as the real one does while the network keeps up.
class ScriptedWeb {
public:
    void serve(const std::string& url, std::string bytes);
    std::function<void(const ScriptedRequest& request, ScriptedAnswer& answer)> change;

    ScriptedAnswer answer(const ScriptedRequest& request);
    // Counts body bytes the updater took of an answer to url.
    void taken(const std::string& url, std::size_t bytes) { m_taken[url] += bytes; }

    std::uint64_t bytesTaken(const std::string& url) const;
    const std::vector<ScriptedRequest>& requests() const { return m_requests; }

private:
    std::map<std::string, std::string> m_files;
    std::map<std::string, std::uint64_t> m_taken;
    std::vector<ScriptedRequest> m_requests;
};

// The window's services with the network a script: requests and transfers
// answered by the web, the file system and the shell the real ones.
class ScriptedServices : public platform::Services {
public:
    explicit ScriptedServices(ScriptedWeb& web) : m_web(web) {}
    std::unique_ptr<platform::HttpRequest> newHttpRequest() override;
    std::unique_ptr<platform::FileSystem> newFileSystem() override;
    std::unique_ptr<platform::InternetTransfer> newInternetTransfer() override;
    platform::Shell& shell() override { return m_real.shell(); }

private:
    ScriptedWeb& m_web;
    platform::SystemServices m_real;
};

} // namespace testsupport
