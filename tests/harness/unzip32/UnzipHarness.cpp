#include "unzip32test/UnzipHarness.h"

#include <cstring>
#include <stdexcept>

namespace unzip32test {

namespace {

UnzipCall* active = nullptr;

int32_t recordPrint(const char* text, uint32_t length) {
    active->printed.append(text, length);
    return 0;
}

void recordSound() {
    ++active->sounds;
}

int32_t answerOverwrite(const char* path) {
    const std::size_t turn = active->overwriteAsked.size();
    active->overwriteAsked.emplace_back(path);
    return turn < active->overwriteAnswers.size() ? active->overwriteAnswers[turn]
                                                  : UZP_OVERWRITE_THIS_FILE;
}

int32_t answerPassword(char* buffer, int32_t size, const char*, const char* entryName) {
    active->passwordAsked.emplace_back(entryName);
    const std::optional<std::string> answer =
        active->password ? active->password(entryName) : std::nullopt;
    if (!answer || static_cast<int32_t>(answer->size()) >= size) {
        return UZP_PASSWORD_NONE;
    }
    std::memcpy(buffer, answer->c_str(), answer->size() + 1);
    return UZP_PASSWORD_GIVEN;
}

void recordListing(uint32_t size, uint32_t compressedSize, int32_t percent, uint32_t month,
                   uint32_t day, uint32_t year, uint32_t hour, uint32_t minute, char kind,
                   const char* name, const char* method, uint32_t crc, char encrypted) {
    active->listed.push_back(ListedEntry{size, compressedSize, percent, month, day, year, hour,
                                         minute, kind, name, method, crc, encrypted});
}

int32_t recordService(const char* name, uint32_t) {
    active->serviced.emplace_back(name);
    return active->stopAtEntry == name ? 1 : 0;
}

std::vector<const char*> pointers(const std::vector<std::string>& names) {
    std::vector<const char*> result;
    for (const std::string& name : names) {
        result.push_back(name.c_str());
    }
    return result;
}

} // namespace

UnzipCall::UnzipCall() {
    options.honorDirectories = 1;
    options.overwriteExisting = 1;
    options.caseSensitiveMatching = 1;
    options.quietLevel = 0;
}

int32_t UnzipCall::run(const std::string& archive, const std::string& folder) {
    return call(archive, folder.c_str());
}

int32_t UnzipCall::runWithoutFolder(const std::string& archive) {
    return call(archive, nullptr);
}

int32_t UnzipCall::call(const std::string& archive, const char* folder) {
    options.archivePath = archive.c_str();
    options.extractionFolder = folder;
    callbacks = UzpCallbacks{};
    callbacks.printMessage = recordPrint;
    callbacks.playSound = recordSound;
    callbacks.askOverwrite = answerOverwrite;
    callbacks.askPassword = answerPassword;
    callbacks.reportListedEntry = recordListing;
    callbacks.beforeEntry = recordService;
    const std::vector<const char*> includeNames = pointers(includes);
    const std::vector<const char*> excludeNames = pointers(excludes);
    active = this;
    const int32_t result = unzipApi().unzip(
        static_cast<int32_t>(includeNames.size()), includeNames.data(),
        static_cast<int32_t>(excludeNames.size()), excludeNames.data(), &options, &callbacks);
    active = nullptr;
    options.archivePath = nullptr;
    options.extractionFolder = nullptr;
    return result;
}

} // namespace unzip32test
