#pragma once

// The keys of AES entries: PBKDF2 with HMAC-SHA1 over the password and the
// entry's salt (RFC 8018), the same bytes as OpenSSL's
// PKCS5_PBKDF2_HMAC_SHA1. It allocates nothing: the key's inner and outer
// hash states are worked out once, so each round hashes two blocks.

#include <span>
#include <string_view>

namespace zipformat {

// Fills key with the derived bytes (any length; the rounds at least 1).
void pbkdf2HmacSha1(std::string_view password, std::span<const unsigned char> salt, unsigned rounds,
                    std::span<unsigned char> key);

} // namespace zipformat
