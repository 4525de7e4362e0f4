#pragma once

#include <cstdint>

// What the unzip library calls back during one VBUnzip call. None of them
// lets an error out: a failing step is skipped and the result so far is
// returned.
namespace CodeModule {

// Gathers the library's printed messages into the last-message text.
int32_t UnzipPrintCallback(const char* text, uint32_t length);
// Asks whether an existing file may be replaced: 100 leave it, 102 replace
// it, 104 replace none from here on.
int32_t OverwriteCallback(const char* existingFilePath);
// Asks for a password: 0 when one is in the buffer, 1 when none is given.
int32_t UnzipPasswordCallback(char* passwordBuffer, int32_t bufferSize, const char* prompt,
                              const char* entryName);
// Called once per listed entry; keeps nothing.
void ListingCallback(uint32_t uncompressedSize, uint32_t compressedSize, int32_t compressionPercent,
                     uint32_t month, uint32_t day, uint32_t year, uint32_t hour, uint32_t minute,
                     char entryKind, const char* entryName, const char* methodName, uint32_t crc32,
                     char isEncrypted);
// Lets the job carry on.
int32_t ServiceCallback(const char* entryName, uint32_t uncompressedSize);

} // namespace CodeModule
