// The version check on any installed version and any answer: the first line
// of the input gives the installed file version (each byte made a digit or a
// dot, as a file version reads), the rest is the body the version endpoint
// sends. Besides crashes it checks the status rules: one of
// the three words, "NA" exactly when the first piece is empty, and an answer
// equal to the installed version never offers an update.

#include "app/VersionCheck.h"

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
    bool isSymbolicLink(const std::string&) const override { return false; }
    std::string resolve(const std::string& path) const override { return path; }
    void setChangeJournal(platform::ChangeJournal*) override {}

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

std::string statusFor(const std::string& installed, const std::string& answer) {
    GivenVersion files(installed);
    GivenServices services;
    services.answer = answer;
    VersionCheck check(
        services, [&files]() -> platform::FileSystem& { return files; }, [](double) {},
        applicationPath, "http://127.0.0.1:1/clientfiles/morvane/version.php");
    check.readInstalledVersion();
    return check.updateStatus();
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
    return 0;
}
