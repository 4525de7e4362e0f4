#pragma once

#include <cstddef>
#include <string>

namespace testsupport {

// Bytes whose every value depends on its position (all 256 values occur,
// zero included), so a prefix or a shifted copy is told apart from the
// real thing. offset gives the bytes of a longer body from that position.
std::string patternedBytes(std::size_t size, std::size_t offset = 0);

// A large program file as far as compression goes: its first half text of
// a few words that deflates well, its second half random bytes that do
// not; the same bytes for the same seed.
std::string halfTextHalfRandom(std::size_t size, unsigned seed);

} // namespace testsupport
