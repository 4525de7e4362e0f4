#include "unzip/VBUnzip.h"

#include "libs/unzip32/unzip32.h"
#include "platform/DynamicLibrary.h"
#include "platform/Error.h"
#include "unzip/CodeModuleState.h"
#include "unzip/UnzipCallbacks.h"

#include <array>
#include <cstring>

namespace CodeModule {

namespace {

const char* const source = "CodeModule::VBUnzip";
constexpr std::size_t nameListSlots = 100;

// The 8-bit copy of a text for the library; an unset text is a null pointer.
const char* libraryCopy(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

void fillSpaces(char* field, std::size_t size) {
    std::memset(field, ' ', size - 1);
    field[size - 1] = '\0';
}

} // namespace

int32_t VBUnzip(const std::string& zipFileName, const std::string& extractDir, int16_t extractNewer,
                int16_t spaceToUnderScore, int16_t promptOverwrite, int16_t messageLevel,
                int16_t writeToStdOut, int16_t testZip, int16_t extractList,
                int16_t extractOnlyNewer, int16_t displayComment, int16_t honorDirectories,
                int16_t overWriteFiles, int16_t convertCRtoCRLF, int16_t verbose,
                int16_t caseSensitive, int16_t privilege) {
    try {
        State& s = state();
        s.lastMessage.clear();
        s.unzipPrintText.clear();
        s.passwordRefused = 0;

        const std::array<const char*, nameListSlots> includeList{};
        const std::array<const char*, nameListSlots> excludeList{};

        UzpOptions options{};
        options.extractOnlyNewer = extractOnlyNewer;
        options.spacesToUnderscores = spaceToUnderScore;
        options.promptBeforeOverwrite = promptOverwrite;
        options.quietLevel = messageLevel;
        options.writeToStandardOutput = writeToStdOut;
        options.testOnly = testZip;
        options.listContents = extractList;
        options.freshenExisting = extractNewer;
        options.displayComment = displayComment;
        options.honorDirectories = honorDirectories;
        options.overwriteExisting = overWriteFiles;
        options.translateLineEnds = convertCRtoCRLF;
        options.verbose = verbose;
        options.caseSensitiveMatching = caseSensitive;
        options.privilegeLevel = privilege;
        options.archivePath = libraryCopy(zipFileName);
        options.extractionFolder = libraryCopy(extractDir);

        UzpCallbacks callbacks{};
        callbacks.printMessage = CallbackAddress(&UnzipPrintCallback);
        callbacks.playSound = nullptr;
        callbacks.askOverwrite = CallbackAddress(&OverwriteCallback);
        callbacks.askPassword = CallbackAddress(&UnzipPasswordCallback);
        callbacks.reportListedEntry = CallbackAddress(&ListingCallback);
        callbacks.beforeEntry = CallbackAddress(&ServiceCallback);

        UzpVersionRecord version{};
        version.structureLength = sizeof(UzpVersionRecord);
        version.flags = 0;
        fillSpaces(version.betaLevel, sizeof version.betaLevel);
        fillSpaces(version.releaseDate, sizeof version.releaseDate);
        fillSpaces(version.compressionLibraryVersion, sizeof version.compressionLibraryVersion);

        const platform::DynamicLibrary library(libraryFolder() + "/libunzip32.so", source);
        library.entry<decltype(&UzpVersion2)>("UzpVersion2")(&version);
        const auto unzipCall =
            library.entry<decltype(&Wiz_SingleEntryUnzip)>("Wiz_SingleEntryUnzip");
        return unzipCall(0, includeList.data(), 0, excludeList.data(), &options, &callbacks);
    } catch (const platform::Error& failure) {
        throw failure.withSource(source);
    } catch (const std::exception& failure) {
        throw platform::Error(platform::ErrorNumber::invalidCall, source, failure.what());
    }
}

} // namespace CodeModule
