// The manifest read out of its span as the span arrives, whole or a byte at
// a time: taken only stored as it is and whole, refused before a byte is
// fetched when its directory entry already says it cannot be.
#include "delta/StoredEntry.h"

#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <zlib.h>

namespace {

const std::string manifestText = "morvane-manifest v1\n";

void put16(std::string& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xff);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

// A local header of name with extra bytes of extra field, then data.
std::string localHeader(const std::string& name, std::size_t extra, const std::string& data) {
    std::string header("PK\x03\x04", 4);
    header += std::string(26, '\0');
    put16(header, 26, static_cast<std::uint16_t>(name.size()));
    put16(header, 28, static_cast<std::uint16_t>(extra));
    return header + name + std::string(extra, 'x') + data;
}

struct Span {
    delta::DirectoryEntry entry;
    std::string bytes;
};

Span storedManifest() {
    delta::DirectoryEntry entry;
    entry.name = "morvane.manifest";
    entry.size = entry.compressedSize = manifestText.size();
    entry.crc32 =
        static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(manifestText.data()),
                                         static_cast<uInt>(manifestText.size())));
    return {entry, localHeader(entry.name, 9, manifestText)};
}

struct ReadCase {
    const char* name;
    std::function<void(Span&)> change;
    std::size_t piece = SIZE_MAX; // how many bytes arrive at a time
    std::uint64_t mostBytes = 1000;
    std::string refused = {};   // the reason, or empty when read
    bool refusedAtOnce = false; // before any byte arrives
};

class StoredEntry : public ::testing::TestWithParam<ReadCase> {};

TEST_P(StoredEntry, IsHandedOnWholeOrRefusedForWhatItIs) {
    const ReadCase& c = GetParam();
    Span span = storedManifest();
    if (c.change) {
        c.change(span);
    }
    std::string data;
    delta::StoredEntryReader reader(
        span.entry, c.mostBytes, [&data](std::span<const unsigned char> bytes) {
            data.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        });
    EXPECT_EQ(reader.problem().has_value(), c.refusedAtOnce);
    const auto* bytes = reinterpret_cast<const unsigned char*>(span.bytes.data());
    for (std::size_t at = 0; at < span.bytes.size(); at += std::min(c.piece, span.bytes.size())) {
        reader.take(std::span(bytes + at, std::min(c.piece, span.bytes.size() - at)));
    }
    const auto why = reader.finish();
    if (c.refused.empty()) {
        ASSERT_FALSE(why) << *why;
        EXPECT_EQ(data, manifestText);
        EXPECT_EQ(span.bytes.substr(reader.dataOffset(), manifestText.size()), manifestText);
        return;
    }
    ASSERT_TRUE(why);
    EXPECT_NE(why->find(c.refused), std::string::npos) << *why;
    if (c.refusedAtOnce) {
        EXPECT_EQ(data.size(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Spans, StoredEntry,
    ::testing::Values(
        ReadCase{"WholeAtOnce", {}}, ReadCase{"AByteAtATime", {}, 1},
        ReadCase{"FollowedByADataDescriptor",
                 [](Span& s) { s.bytes += std::string("PK\x07\x08", 4) + std::string(12, 'd'); },
                 5},
        ReadCase{"DeflatedSaysTheDirectory", [](Span& s) { s.entry.method = 8; }, SIZE_MAX, 1000,
                 "compressed", true},
        ReadCase{"EncryptedSaysTheDirectory", [](Span& s) { s.entry.flags = 1; }, SIZE_MAX, 1000,
                 "encrypted", true},
        ReadCase{"SizesDifferInTheDirectory", [](Span& s) { ++s.entry.compressedSize; }, SIZE_MAX,
                 1000, "compressed", true},
        ReadCase{"LargerThanAManifestMayBe", {}, SIZE_MAX, 19, "more than the 19", true},
        ReadCase{"DeflatedSaysTheLocalHeader", [](Span& s) { put16(s.bytes, 8, 8); }, 3, 1000,
                 "compressed"},
        ReadCase{"NoLocalHeader", [](Span& s) { s.bytes[2] = 'X'; }, 1, 1000, "no local header"},
        ReadCase{"LocalHeaderOfAnotherEntry", [](Span& s) { s.bytes[30] = 'M'; }, 4, 1000,
                 "another entry"},
        ReadCase{"AByteOfTheDataChanged", [](Span& s) { s.bytes.back() ^= 1; }, 1, 1000, "CRC-32"},
        ReadCase{"CutInTheData", [](Span& s) { s.bytes.resize(s.bytes.size() - 1); }, 1, 1000,
                 "runs past its span"},
        ReadCase{"CutInTheFixedHeader", [](Span& s) { s.bytes.resize(20); }, 1, 1000,
                 "no local header"},
        ReadCase{"CutInTheName", [](Span& s) { s.bytes.resize(35); }, 1, 1000,
                 "local header runs past"}),
    testsupport::CaseName());

} // namespace
