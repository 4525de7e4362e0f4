#include "zip/VBZip.h"

#include "ZipCallbacks.h"
#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"
#include "text/LetterCase.h"
#include "zip32.h"

namespace CodeModule {

namespace {

ZpCallbacks callbackRecord() {
    ZpCallbacks callbacks{};
    callbacks.printMessage = CallbackAddress(&ZipMessageCallback);
    callbacks.askPassword = CallbackAddress(&ZipPasswordCallback);
    callbacks.askComment = CallbackAddress(&ZipCommentCallback);
    callbacks.beforeEntry = nullptr;
    return callbacks;
}

ZpChunking chunkingRecord(const ZipChunking& chunking) {
    ZpChunking record{};
    record.smallestChunkedFile = chunking.smallestFile;
    record.minimumChunk = chunking.sizes.minimum;
    record.averageChunk = chunking.sizes.average;
    record.maximumChunk = chunking.sizes.maximum;
    record.chunkWritten = CallbackAddress(&ZipChunkCallback);
    return record;
}

} // namespace

using platform::skipOnFailure;

int32_t VBZip(int16_t nameCount, const std::string& zipFileName, const NameList& names,
              int16_t junkFolderNames, int16_t recurseFolders, int16_t updateNewer,
              int16_t freshenNewer, const std::string& rootDirectory, int16_t encrypt,
              int16_t includeSystemFiles, int16_t noDirectoryEntries, int16_t verbose,
              int16_t quiet, int16_t crlfToLf, int16_t lfToCrlf, int16_t grow,
              int16_t forceShortNames, int16_t moveFiles, int16_t deleteEntries,
              uint8_t compressionLevel, const ZipChunking& chunking) {
    skipOnFailure([] {
        state().lastMessage.clear();
        state().zipChunks.clear();
    });

    ZpCallbacks callbacks = callbackRecord();
    ZpChunking chunkingKept = chunkingRecord(chunking);

    std::string upperRoot;
    skipOnFailure([&] { upperRoot = text::upperCase(rootDirectory); });
    ZpOptions options{};
    options.encryptEntries = encrypt;
    options.includeSystemAndHidden = includeSystemFiles;
    options.noDirectoryEntries = noDirectoryEntries;
    options.verbose = verbose;
    options.quiet = quiet;
    options.crlfToLf = crlfToLf;
    options.lfToCrlf = lfToCrlf;
    options.junkFolderNames = junkFolderNames;
    options.recurseFolders = recurseFolders;
    options.grow = grow;
    options.forceShortNames = forceShortNames;
    options.moveFiles = moveFiles;
    options.deleteEntries = deleteEntries;
    options.updateNewer = updateNewer;
    options.freshenNewer = freshenNewer;
    options.compressionLevel = compressionLevel;
    options.dateText = nullptr;
    options.rootDirectory = libraryCopy(upperRoot);

    // Only the archive call's result counts: set-up calls that answered are
    // no sign that an archive was built.
    int32_t result = zipLibraryNotCalled;
    const auto library = tryLoadLibrary("zip32");
    if (library == nullptr) {
        return result;
    }
    if (const auto init = library->tryEntry<decltype(&ZpInit)>("ZpInit")) {
        init(&callbacks);
    }
    if (const auto setOptions = library->tryEntry<decltype(&ZpSetOptions)>("ZpSetOptions")) {
        setOptions(&options);
    }
    if (const auto setChunking = library->tryEntry<decltype(&ZpSetChunking)>("ZpSetChunking")) {
        setChunking(&chunkingKept);
    }
    if (const auto archive = library->tryEntry<decltype(&ZpArchive)>("ZpArchive")) {
        result = archive(nameCount, libraryCopy(zipFileName), names.slots());
    }
    return result;
}

} // namespace CodeModule
