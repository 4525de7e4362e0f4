// The keys of AES entries: byte for byte OpenSSL's PBKDF2-HMAC-SHA1, at the
// edges where the hashing changes its way (a key longer than a block, a
// first message whose padding spills into a second block, keys that end
// inside a digest, bytes above 127), and the standard's own test vectors.
#include "zipformat/KeyDerivation.h"

#include "testsupport/CaseName.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

namespace {

struct DerivationCase {
    const char* name;
    std::string password;
    std::size_t saltLength;
    unsigned rounds;
    std::size_t keyLength;
};

void PrintTo(const DerivationCase& c, std::ostream* out) {
    *out << c.name;
}

std::string repeated(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(static_cast<char>('a' + i % 26));
    }
    return text;
}

std::vector<unsigned char> saltOf(std::size_t length) {
    std::vector<unsigned char> salt;
    for (std::size_t i = 0; i < length; ++i) {
        salt.push_back(static_cast<unsigned char>(i * 37 + 200));
    }
    return salt;
}

class KeyDerivation : public testing::TestWithParam<DerivationCase> {};

TEST_P(KeyDerivation, IsOpenSslsPbkdf2) {
    const DerivationCase& c = GetParam();
    const std::vector<unsigned char> salt = saltOf(c.saltLength);
    std::vector<unsigned char> ours(c.keyLength);
    std::vector<unsigned char> openssl(c.keyLength);
    zipformat::pbkdf2HmacSha1(c.password, salt, c.rounds, ours);
    ASSERT_EQ(PKCS5_PBKDF2_HMAC_SHA1(c.password.data(), static_cast<int>(c.password.size()),
                                     salt.data(), static_cast<int>(salt.size()),
                                     static_cast<int>(c.rounds), static_cast<int>(c.keyLength),
                                     openssl.data()),
              1);
    EXPECT_EQ(ours, openssl);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, KeyDerivation,
    testing::Values(
        // The three AES strengths: salt 8, 12, 16; two keys and a check.
        DerivationCase{"Aes128", "pw", 8, 1000, 34}, DerivationCase{"Aes192", "pw", 12, 1000, 50},
        DerivationCase{"Aes256", "pw", 16, 1000, 66},
        DerivationCase{"EmptyPassword", "", 16, 1000, 66},
        DerivationCase{"BytesAbove127", "\xff\x80\xc3\xa9\x01", 16, 1000, 66},
        // The key fills a block exactly, then is hashed to a digest.
        DerivationCase{"PasswordOfABlock", repeated(64), 16, 3, 66},
        DerivationCase{"PasswordOverABlock", repeated(65), 16, 3, 66},
        // Its digest's padding fits the last block, then spills over.
        DerivationCase{"PasswordPaddedInItsBlock", repeated(119), 16, 3, 40},
        DerivationCase{"PasswordPaddingSpills", repeated(120), 16, 3, 40},
        DerivationCase{"LongPassword", repeated(300), 16, 2, 20},
        // Salt and index after the pad block: padding in the same block or the next.
        DerivationCase{"SaltPaddedInItsBlock", "pw", 51, 2, 20},
        DerivationCase{"SaltPaddingSpills", "pw", 52, 2, 20},
        DerivationCase{"SaltOverABlock", "pw", 70, 2, 20}, DerivationCase{"NoSalt", "pw", 0, 2, 20},
        DerivationCase{"OneRound", "pw", 16, 1, 66},
        DerivationCase{"KeyEndsInsideADigest", "pw", 16, 5, 21},
        // Blocks are derived four side by side: a fifth starts a second group.
        DerivationCase{"KeyOfFiveBlocks", "pw", 16, 5, 100},
        DerivationCase{"KeyOfEightBlocksAndAByte", "pw", 16, 2, 161},
        DerivationCase{"OneByte", "pw", 16, 5, 1}),
    testsupport::CaseName());

std::string hex(const std::vector<unsigned char>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// RFC 6070's vectors, so that agreeing with OpenSSL is agreeing with the
// standard.
TEST(KeyDerivationVectors, AreTheStandards) {
    struct Vector {
        std::string password;
        std::string salt;
        unsigned rounds;
        const char* key;
    };
    const Vector vectors[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096,
         "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const Vector& v : vectors) {
        std::vector<unsigned char> key(std::string(v.key).size() / 2);
        zipformat::pbkdf2HmacSha1(
            v.password, {reinterpret_cast<const unsigned char*>(v.salt.data()), v.salt.size()},
            v.rounds, key);
        EXPECT_EQ(hex(key), v.key) << v.password << " / " << v.rounds;
    }
}

} // namespace
