#pragma once

// UTF-8 text as code points and back, for the rules that work on characters
// rather than bytes (letter case, "?" in a pattern).
//
// A byte that does not belong to a well-formed UTF-8 sequence becomes a code
// point of its own, 0xDC00 + byte (a lone surrogate, which no valid text
// decodes to); encoding turns it back into that byte, so decoding and encoding
// give back the very bytes of any text, valid or not.

#include <string>
#include <string_view>

namespace text {

std::u32string decodeUtf8(std::string_view text);
std::string encodeUtf8(std::u32string_view codePoints);
// Whether every byte of text belongs to a well-formed UTF-8 sequence.
bool isUtf8(std::string_view text);
// The text with each byte that is not UTF-8, and each control character
// below 0x20, written as \xNN (upper-case hex), for a message that names it:
// the rest is left as it is.
std::string withStrayBytesShown(std::string_view text);
// The text without the UTF-8 byte order mark it may begin with: a mark is
// how some servers and editors start a text, never part of its content.
std::string_view withoutByteOrderMark(std::string_view text);

} // namespace text
