#include "unzip32.h"

#include <zip.h>

#include <cstring>

namespace {

constexpr UzpVersionNumber libraryVersion{1, 0, 0, 0};
constexpr const char* releaseDate = "2026-12-08";

// Copies as much of text as fits, always ending with a zero byte.
template <std::size_t Size> void copyText(char (&field)[Size], const char* text) {
    std::memset(field, 0, Size);
    std::strncpy(field, text, Size - 1);
}

} // namespace

extern "C" UNZIP32_API int32_t UzpVersion2(UzpVersionRecord* versionRecord) {
    if (versionRecord == nullptr) {
        return UZP_NULL_POINTER;
    }
    if (versionRecord->structureLength != sizeof(UzpVersionRecord)) {
        return UZP_BAD_RECORD_LENGTH;
    }
    versionRecord->flags = 0;
    if (zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 0) != 0) {
        versionRecord->flags |= UZP_VERSION_FLAG_DECRYPTS;
    }
    copyText(versionRecord->betaLevel, "");
    copyText(versionRecord->releaseDate, releaseDate);
    copyText(versionRecord->compressionLibraryVersion, zip_libzip_version());
    versionRecord->unzipVersion = libraryVersion;
    versionRecord->listingVersion = libraryVersion;
    versionRecord->os2LibraryVersion = UzpVersionNumber{0, 0, 0, 0};
    versionRecord->libraryVersion = libraryVersion;
    return UZP_OK;
}
