// The package download on any answer: a server on 127.0.0.1 sends the input
// as the whole response (status line, headers, body) and closes; the
// window's download reads its headers and body into a package file. Besides
// crashes it checks that a download that returns has written at least the
// length its header announced, never a cut-off package taken as whole.
//
// An input whose first byte is odd (never an answer's "H") is, after that
// byte, the answer to a request for the rest of a package an earlier run
// left cut off (100 bytes, named by an ETag):
// 206 answers with every kind of Content-Range, 200, 416. A later request
// for the whole package, if the download makes one, gets the same bytes.
// A download that returns has then forgotten the part it went on from.

#include "FuzzSandbox.h"
#include "platform/SystemServices.h"
#include "run/frmUpdater.h"
#include "testsupport/ScriptedHttpServer.h"
#include "testsupport/ScriptedToolkit.h"
#include "text/Numbers.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>

using updater::frmUpdater;
using updater::UpdaterSettings;

namespace fs = std::filesystem;

namespace {

std::mutex answerLock;
std::string answerBytes;

struct Publisher {
    testsupport::ScriptedHttpServer server{
        [](const std::string&, testsupport::ServerConnection& c) {
            std::string bytes;
            {
                const std::lock_guard<std::mutex> lock(answerLock);
                bytes = answerBytes;
            }
            c.send(bytes);
        }};
    std::string install = [] {
        fs::create_directories(fuzzSandbox("download-fuzz") + "/temp");
        return fuzzSandbox("download-fuzz");
    }();
};

// Whether the answer starts with a plain "HTTP/1.x NNN" status line whose
// status is final. The client's HTTP library reads other forms too, and not
// as they look: "HTTP/2101 .0 OK" is version 2 with an interim status 101.
bool plainFinalStatus(const std::string& answer) {
    const auto digit = [&](std::size_t at) {
        return at < answer.size() && std::isdigit(static_cast<unsigned char>(answer[at])) != 0;
    };
    return answer.compare(0, 7, "HTTP/1.") == 0 && digit(7) && answer.size() > 12 &&
           answer[8] == ' ' && digit(9) && digit(10) && digit(11) && answer[9] != '1' &&
           (answer[12] == ' ' || answer[12] == '\r');
}

// The Content-Length the answer's own head announces, as the download reads
// it; nothing when the head is not plainly one response with one length
// (line ends other than CR LF, a CR alone included, several lengths, interim
// responses, a status line of another form, a NUL byte: the client reads no
// header past one).
std::optional<double> announcedLength(const std::string& answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    if (end == std::string::npos || !plainFinalStatus(answer)) {
        return std::nullopt;
    }
    std::string head = answer.substr(0, end + 2);
    for (std::size_t i = 0; i < head.size(); ++i) {
        const bool bareLineFeed = head[i] == '\n' && (i == 0 || head[i - 1] != '\r');
        const bool bareReturn = head[i] == '\r' && head[i + 1] != '\n';
        if (bareLineFeed || bareReturn || head[i] == '\0') {
            return std::nullopt;
        }
        head[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(head[i])));
    }
    const std::size_t at = head.find("\ncontent-length:");
    if (at == std::string::npos || head.find("\ncontent-length:", at + 1) != std::string::npos) {
        return std::nullopt;
    }
    // Whole bytes, rounded as the download rounds the length.
    return text::roundHalfEven(
        text::leadingNumber(answer.substr(at + 16, head.find('\r', at + 1) - at - 16)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Publisher publisher;
    const bool resuming = size > 0 && data[0] % 2 == 1;
    const std::string answer(reinterpret_cast<const char*>(data) + (resuming ? 1 : 0),
                             size - (resuming ? 1 : 0));
    {
        const std::lock_guard<std::mutex> lock(answerLock);
        answerBytes = answer;
    }
    platform::ScriptedToolkit ui;
    platform::SystemServices services(std::chrono::seconds(1));
    const UpdaterSettings settings{publisher.install, publisher.server.host(),
                                   publisher.server.host(), ""};
    frmUpdater form(ui, ui, services, settings);
    const std::string address =
        updater::PublisherAddresses(settings.versionHost, settings.packageHost).package;
    const std::string package = publisher.install + "/temp/morvane.zip";
    std::remove((package + ".resume").c_str());
    if (resuming) {
        std::FILE* kept = std::fopen(package.c_str(), "wb");
        std::fwrite(std::string(100, 'k').data(), 1, 100, kept);
        std::fclose(kept);
        kept = std::fopen((package + ".resume").c_str(), "wb");
        const std::string identity =
            "url=" + address + "\nsize=\nsha512=\netag=\"v1\"\nlast-modified=\n";
        std::fwrite(identity.data(), 1, identity.size(), kept);
        std::fclose(kept);
    }
    try {
        form.DownloadFile(address, package);
    } catch (const std::exception&) {
        return 0; // the run's handler would log it
    }
    const std::optional<double> announced = announcedLength(answer);
    if (announced && static_cast<double>(fs::file_size(package)) < *announced) {
        std::abort();
    }
    if (fs::exists(package + ".resume")) {
        std::abort();
    }
    return 0;
}
