#include "unzip/VBUnzip.h"

#include "codemodule/CodeModuleState.h"
#include "codemodule/LibraryBoundary.h"
#include "platform/Error.h"
#include "unzip/UnzipCallbacks.h"
#include "unzip32.h"

#include <cstring>

namespace CodeModule {

namespace {

const char* const source = "CodeModule::VBUnzip";

// Every call starts with the module's message state empty.
void emptyMessageState() {
    State& s = state();
    s.lastMessage.clear();
    s.unzipPrintText.clear();
    s.passwordRefused = 0;
}

UzpCallbacks callbackRecord() {
    UzpCallbacks callbacks{};
    callbacks.printMessage = CallbackAddress(&UnzipPrintCallback);
    callbacks.playSound = nullptr;
    callbacks.askOverwrite = CallbackAddress(&OverwriteCallback);
    callbacks.askPassword = CallbackAddress(&UnzipPasswordCallback);
    callbacks.reportListedEntry = CallbackAddress(&ListingCallback);
    callbacks.beforeEntry = CallbackAddress(&ServiceCallback);
    return callbacks;
}

void fillSpaces(char* field, std::size_t size) {
    std::memset(field, ' ', size - 1);
    field[size - 1] = '\0';
}

UzpVersionRecord versionRecord() {
    UzpVersionRecord version{};
    version.structureLength = sizeof(UzpVersionRecord);
    version.flags = 0;
    fillSpaces(version.betaLevel, sizeof version.betaLevel);
    fillSpaces(version.releaseDate, sizeof version.releaseDate);
    fillSpaces(version.compressionLibraryVersion, sizeof version.compressionLibraryVersion);
    return version;
}

// Asks the library for its version, then runs the one job, with empty
// include and exclude lists.
int32_t runLibrary(UzpOptions& options, UzpCallbacks& callbacks) {
    UzpVersionRecord version = versionRecord();
    const NameList includeList;
    const NameList excludeList;
    const auto library = loadLibrary("unzip32", source);
    library->entry<decltype(&UzpVersion2)>("UzpVersion2")(&version);
    const auto unzipCall = library->entry<decltype(&Wiz_SingleEntryUnzip)>("Wiz_SingleEntryUnzip");
    return unzipCall(0, includeList.slots(), 0, excludeList.slots(), &options, &callbacks);
}

} // namespace

int32_t VBUnzip(const std::string& zipFileName, const std::string& extractDir, int16_t extractNewer,
                int16_t spaceToUnderScore, int16_t promptOverwrite, int16_t messageLevel,
                int16_t writeToStdOut, int16_t testZip, int16_t extractList,
                int16_t extractOnlyNewer, int16_t displayComment, int16_t honorDirectories,
                int16_t overWriteFiles, int16_t convertCRtoCRLF, int16_t verbose,
                int16_t caseSensitive, int16_t privilege) {
    return platform::withOwnSource(source, [&] {
        emptyMessageState();

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

        UzpCallbacks callbacks = callbackRecord();
        return runLibrary(options, callbacks);
    });
}

} // namespace CodeModule
