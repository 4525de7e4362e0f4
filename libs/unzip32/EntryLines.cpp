#include "EntryLines.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace unzip32 {

namespace {

constexpr std::size_t actionWidth = 11;

} // namespace

int32_t compressionPercent(uint64_t size, uint64_t compressedSize) {
    if (size == 0) {
        return 0;
    }
    const double saved = 100.0 * (static_cast<double>(size) - static_cast<double>(compressedSize)) /
                         static_cast<double>(size);
    return static_cast<int32_t>(std::lround(std::max(saved, -1.0e6)));
}

uint32_t saturated32(uint64_t value) {
    return value > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                        : static_cast<uint32_t>(value);
}

std::string entryLine(std::string_view action, std::string_view shownName, const EntryInfo& entry,
                      bool verbose) {
    std::string line(action.size() < actionWidth ? actionWidth - action.size() : 0, ' ');
    line.append(action).append(": ").append(shownName);
    if (verbose && entry.kind != EntryKind::Folder) {
        char detail[128];
        std::snprintf(detail, sizeof detail, "  (%llu bytes, %s %d%%, CRC %08x)",
                      static_cast<unsigned long long>(entry.size),
                      methodName(entry.compressionMethod),
                      compressionPercent(entry.size, entry.compressedSize), entry.crc);
        line.append(detail);
    }
    return line;
}

} // namespace unzip32
