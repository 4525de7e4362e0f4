// The version check on any installed version and any answer: the first line
// of the input gives the installed file version (each byte made a digit or a
// dot, as a file version reads), the rest is the body the version endpoint
// sends. Besides crashes it checks the status rules: one of
// the three words, "NA" exactly when the first piece is empty, an answer
// equal to the installed version never offers an update, and a version line
// of three numbers reads the same whatever lines follow it (the signed
// release line changes nothing for an updater without a key). With a key,
// no answer the input makes is trusted (none carries the publisher's
// signature), and each one that is not empty is refused with a reason. Each
// line of the answer that begins as a keys line is read as one too: never
// trusted by roots nobody holds, and read back as it is written.

#include "fixtures/WindowlessContext.h"
#include "run/VersionCheck.h"
#include "signature/KeysLine.h"
#include "signature/VersionText.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

using updater::VersionCheck;

namespace {

// A request whose answer is given.
class GivenAnswer : public platform::HttpRequest {
public:
    explicit GivenAnswer(std::string answer) : m_answer(std::move(answer)) {}
    void Open(const std::string&, const std::string&, bool) override {}
    void setRequestHeader(const std::string&, const std::string&) override {}
    void send(const std::string&) override {}
    std::string responseText() const override { return m_answer; }

private:
    std::string m_answer;
};

// An installed morvane.exe of the given version; nothing else is asked.
const std::string applicationPath = "/nowhere/morvane.exe";

class GivenVersion : public platform::FileSystem {
public:
    explicit GivenVersion(std::string version) : m_version(std::move(version)) {}
    bool FolderExists(const std::string&) const override { return false; }
    void CreateFolder(const std::string&) override { std::abort(); }
    void DeleteFolder(const std::string&, bool) override { std::abort(); }
    bool FileExists(const std::string& path) const override { return path == applicationPath; }
    std::string GetFileVersion(const std::string&) const override { return m_version; }
    void CopyFile(const std::string&, const std::string&, bool) override { std::abort(); }
    std::uint64_t sizeOfCopy(const std::string&, const std::string&) const override {
        std::abort();
    }
    bool isSymbolicLink(const std::string&) const override { return false; }
    std::string resolve(const std::string& path) const override { return path; }
    void setChangeJournal(platform::ChangeJournal*) override {}
    void setSharedSources(const std::string&) override {}

private:
    std::string m_version;
};

class GivenServices : public platform::Services {
public:
    std::string answer;
    std::unique_ptr<platform::HttpRequest> newHttpRequest() override {
        return std::make_unique<GivenAnswer>(answer);
    }
    std::unique_ptr<platform::FileSystem> newFileSystem() override { std::abort(); }
    std::unique_ptr<platform::InternetTransfer> newInternetTransfer() override { std::abort(); }
    platform::Shell& shell() override { std::abort(); }
};

// Any Ed25519 public key: nothing the input holds is signed by it.
const std::string publisherKey = "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=";

// Every line that begins as a keys line: read back as written, and never
// trusted, for no input is signed by the root set.
void checkKeysLines(const std::string& answer) {
    const signature::RootSet roots{1, {*signature::publicKeyFromBase64(publisherKey)}, 1};
    for (std::size_t at = 0; at < answer.size();) {
        const std::size_t end = std::min(answer.find('\n', at), answer.size());
        std::string line = answer.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind(signature::keysLineStart, 0) != 0) {
            continue;
        }
        std::string why;
        if (const auto read = signature::parseKeysLine(line, why)) {
            const std::string written = signature::formatKeysLine(*read);
            const auto again = signature::parseKeysLine(written, why);
            if (!again || signature::formatKeysLine(*again) != written) {
                std::abort();
            }
        }
        const auto check = signature::checkKeysLine(line, roots, 0, 1'800'000'000);
        if (check.trusted() || check.description.empty()) {
            std::abort();
        }
    }
}

struct Verdict {
    std::string status;
    std::string refusal;
};

Verdict checkWith(const std::string& installed, const std::string& answer, const std::string& key) {
    GivenVersion files(installed);
    GivenServices services;
    services.answer = answer;
    WindowlessContext context(files);
    VersionCheck check(services, context, applicationPath,
                       "http://127.0.0.1:1/clientfiles/morvane/version.php",
                       updater::KeySetting{key, "", 0}, "/nowhere/updater.trust",
                       [] { return std::int64_t{1'800'000'000}; });
    check.readInstalledVersion();
    const std::string status = check.updateStatus();
    return {status, check.refusal()};
}

std::string statusFor(const std::string& installed, const std::string& answer) {
    return checkWith(installed, answer, "").status;
}

std::string piece(const std::string& text, int index) {
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = text.find('.', start);
        if (start == std::string::npos) {
            return {};
        }
        ++start;
    }
    return text.substr(start, text.find('.', start) - start);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = input.find('\n');
    std::string installed = input.substr(0, lineEnd);
    for (char& c : installed) {
        const int digit = static_cast<unsigned char>(c) % 11;
        c = digit == 10 ? '.' : static_cast<char>('0' + digit);
    }
    const std::string answer = lineEnd == std::string::npos ? "" : input.substr(lineEnd + 1);

    const std::string status = statusFor(installed, answer);
    if (status != "NA" && status != "NO_UPDATE" && status != "UPDATE_AVAILABLE") {
        std::abort();
    }
    // The installed a.b.c.d answered as a.b.d is the same version.
    const std::string same =
        piece(installed, 0) + "." + piece(installed, 1) + "." + piece(installed, 3);
    if (!piece(installed, 0).empty() && statusFor(installed, same) != "NO_UPDATE") {
        std::abort();
    }
    const std::size_t versionEnd = answer.find("\r\n");
    if (versionEnd != std::string::npos && signature::isVersionText(answer.substr(0, versionEnd)) &&
        statusFor(installed, answer.substr(0, versionEnd)) != status) {
        std::abort();
    }
    const Verdict keyed = checkWith(installed, answer, publisherKey);
    // A keyed build trusts no unsigned answer and always says why, an
    // empty one included.
    if (keyed.status != "NA" || keyed.refusal.empty()) {
        std::abort();
    }
    checkKeysLines(answer);
    return 0;
}
