#pragma once

#include <cstdint>

// What the zip library calls back during one VBZip call. None of them lets
// an error out: a failing step is skipped and the callback's value returned.
namespace CodeModule {

// Adds the library's message to the last-message text, then lets waiting
// window events run once.
int32_t ZipMessageCallback(const char* text, uint32_t length);
// No password is ever given: 1.
int32_t ZipPasswordCallback(char* passwordBuffer, int32_t bufferSize, const char* prompt,
                            const char* archiveName);
// An empty archive comment, in the library's own buffer.
char* ZipCommentCallback(char* commentBuffer);
// Adds the chunk to the ones reported in this call; 1 (stop) when it cannot
// be kept, so that no call ends with some of its chunks missing.
int32_t ZipChunkCallback(const char* entryName, uint64_t uncompressedLength,
                         uint64_t compressedLength);

} // namespace CodeModule
