// libzip derives the key of every entry it encrypts with OpenSSL's
// PBKDF2-HMAC-SHA1, which allocates several times in each of its thousand
// rounds; under AddressSanitizer that alone took a third of the zip tree
// target's time. This definition in the target itself takes libzip's calls
// in its place (an executable's symbols come first) and gives the same bytes
// from the derivation our unzip library uses, which allocates nothing; its
// table test holds it to OpenSSL's, so the round trip still checks libzip's
// encryption against our reading of it.
//
// libzip's salts come from here too: the n-th salt of an execution is the
// same in every execution, and differs from the others in it. So libzip's
// derivations repeat, and the keys it derived before are given again instead
// of deriving them anew (7 % of the target's time). The unzip library
// still derives every key itself from what the archive holds, and entries
// in one archive never share a salt, so a key kept for the wrong entry would
// still fail the round trip.
#include "LibzipKeyDerivation.h"

#include "zipformat/KeyDerivation.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

unsigned saltsGiven = 0;

using DerivationInput = std::tuple<std::string, std::string, int, int>;
std::map<DerivationInput, std::vector<unsigned char>>& keptKeys() {
    static std::map<DerivationInput, std::vector<unsigned char>> keys;
    return keys;
}

} // namespace

void restartLibzipSalts() {
    saltsGiven = 0;
}

extern "C" int RAND_bytes(unsigned char* bytes, int count) {
    if (count < 0 || (bytes == nullptr && count > 0)) {
        return 0;
    }
    ++saltsGiven;
    for (int i = 0; i < count; ++i) {
        bytes[i] = static_cast<unsigned char>(saltsGiven * 151u + static_cast<unsigned>(i) * 7u);
    }
    return 1;
}

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
    const std::string_view saltText(reinterpret_cast<const char*>(salt),
                                    static_cast<std::size_t>(saltLength));
    DerivationInput input{std::string(text), std::string(saltText), rounds, keyLength};
    auto& keys = keptKeys();
    auto kept = keys.find(input);
    if (kept == keys.end()) {
        std::vector<unsigned char> derived(static_cast<std::size_t>(keyLength));
        zipformat::pbkdf2HmacSha1(text, {salt, static_cast<std::size_t>(saltLength)},
                                  static_cast<unsigned>(rounds), derived);
        if (keys.size() >= 64) {
            keys.clear(); // inputs that change their password often keep it small
        }
        kept = keys.emplace(std::move(input), std::move(derived)).first;
    }
    std::copy(kept->second.begin(), kept->second.end(), key);
    return 1;
}
