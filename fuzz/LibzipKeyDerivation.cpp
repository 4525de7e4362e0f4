// libzip derives the key of every entry it encrypts with OpenSSL's
// PBKDF2-HMAC-SHA1, which allocates several times in each of its thousand
// rounds; under AddressSanitizer that alone took a third of the zip tree
// target's time. This definition in the target itself takes libzip's calls
// in its place (an executable's symbols come first) and gives the same bytes
// from the derivation our unzip library uses, which allocates nothing; its
// table test holds it to OpenSSL's, so the round trip still checks libzip's
// encryption against our reading of it.
#include "zipformat/KeyDerivation.h"

#include <openssl/evp.h>

#include <cstring>
#include <string_view>

extern "C" int PKCS5_PBKDF2_HMAC_SHA1(const char* password, int passwordLength,
                                      const unsigned char* salt, int saltLength, int rounds,
                                      int keyLength, unsigned char* key) {
    if (rounds < 1 || keyLength < 0 || saltLength < 0 || (salt == nullptr && saltLength > 0) ||
        (key == nullptr && keyLength > 0)) {
        return 0;
    }
    std::string_view text;
    if (password != nullptr) {
        text = passwordLength < 0
                   ? std::string_view(password)
                   : std::string_view(password, static_cast<std::size_t>(passwordLength));
    }
    zipformat::pbkdf2HmacSha1(text, {salt, static_cast<std::size_t>(saltLength)},
                              static_cast<unsigned>(rounds),
                              {key, static_cast<std::size_t>(keyLength)});
    return 1;
}
