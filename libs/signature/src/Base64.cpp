#include "signature/Base64.h"

#include <openssl/evp.h>

namespace signature {

std::string encodeBase64(const std::uint8_t* data, std::size_t size) {
    std::string encoded((size + 2) / 3 * 4 + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), data,
                                       static_cast<int>(size));
    encoded.resize(static_cast<std::size_t>(length));
    return encoded;
}

std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(text.size() / 4 * 3);
    const int length =
        EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    if (length < 0) {
        return std::nullopt;
    }
    // The block decoder keeps the bytes the padding stands for.
    const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
    bytes.resize(static_cast<std::size_t>(length) - padding);
    // Anything the decoder let pass (blanks, stray bits in the last
    // character) shows as a different text.
    if (encodeBase64(bytes.data(), bytes.size()) != text) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace signature
