#include "EntryInfo.h"

#include <zip.h>

namespace unzip32 {

bool EntryInfo::aesEncrypted() const {
    return encryptionMethod == ZIP_EM_AES_128 || encryptionMethod == ZIP_EM_AES_192 ||
           encryptionMethod == ZIP_EM_AES_256;
}

const char* methodName(uint16_t compressionMethod) {
    switch (compressionMethod) {
    case 0:
        return "Stored";
    case 8:
        return "Deflate";
    case 9:
        return "Deflate64";
    case 12:
        return "BZip2";
    case 14:
        return "LZMA";
    case 93:
        return "Zstandard";
    case 95:
        return "XZ";
    case 98:
        return "PPMd";
    default:
        return "Unknown";
    }
}

} // namespace unzip32
