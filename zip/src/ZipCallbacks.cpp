#include "ZipCallbacks.h"

#include "codemodule/CodeModuleState.h"
#include "codemodule/LibraryBoundary.h"

#include <algorithm>
#include <exception>

namespace CodeModule {

namespace {

// The message buffer holds indexes 0 to 4096; the library's zero byte lies
// at index length, so that index is read as well.
constexpr std::size_t lastMessageIndex = 4096;

constexpr int32_t noPassword = 1;
constexpr int32_t stopCall = 1;

} // namespace

int32_t ZipMessageCallback(const char* text, uint32_t length) {
    try {
        const std::size_t bytes = std::min<std::size_t>(length, lastMessageIndex) + 1;
        state().lastMessage += libraryText(text, bytes);
    } catch (const std::exception&) {
        // A library callback never raises: a failing step is skipped.
    }
    try {
        toolkit().doEvents();
    } catch (const std::exception&) {
        // A library callback never raises: a failing step is skipped.
    }
    return 0;
}

int32_t ZipPasswordCallback(char*, int32_t, const char*, const char*) {
    return noPassword;
}

char* ZipCommentCallback(char* commentBuffer) {
    if (commentBuffer != nullptr) {
        commentBuffer[0] = '\0';
    }
    return commentBuffer;
}

int32_t ZipChunkCallback(const char* entryName, uint64_t uncompressedLength,
                         uint64_t compressedLength) {
    try {
        state().zipChunks.push_back(
            {entryName != nullptr ? entryName : "", uncompressedLength, compressedLength});
    } catch (const std::exception&) {
        return stopCall;
    }
    return 0;
}

} // namespace CodeModule
