#pragma once

#include "testsupport/ChildProcess.h"
#include "testsupport/TempDir.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A server program started for a test on 127.0.0.1 and a free port, with a
// folder of its own for its configuration and output. It is stopped when
// the object goes away.
class ServerProcess {
public:
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return m_port; }
    std::string host() const;
    // Ends the server; whatever it logs is complete afterwards.
    void stop();

protected:
    ServerProcess();
    ~ServerProcess();

    // Starts the program and waits until it accepts connections; raises
    // with what it printed when it does not.
    void start(const std::vector<std::string>& arguments);
    const TempDir& folder() const { return m_folder; }
    // What the program printed on its standard output and error.
    std::string output() const;
    // A configuration template with every @NAME@ of fields filled in.
    static std::string filled(std::string text,
                              const std::vector<std::pair<std::string, std::string>>& fields);
    // The line that includes a settings file, pattern with @ for its path;
    // empty when there is none.
    static std::string included(const std::string& pattern, const std::string& settings);
    // Servers that, started by root, drop to another user must still write
    // in their own folder; as any other user this does nothing.
    void handFolderTo(const std::string& user) const;

private:
    TempDir m_folder;
    int m_port = 0;
    std::unique_ptr<ChildProcess> m_process;
};

} // namespace testsupport
