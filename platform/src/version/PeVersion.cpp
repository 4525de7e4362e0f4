#include "version/PeVersion.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace platform {
namespace {

constexpr uint32_t versionResourceType = 16;
constexpr uint32_t fixedFileInfoSignature = 0xFEEF04BD;
constexpr uint32_t highBit = 0x80000000u;
constexpr size_t sectionHeaderSize = 40;
constexpr size_t resourceDirectorySize = 16;
constexpr size_t resourceEntrySize = 8;
// More than any real resource tree needs; bounds what a hostile file makes
// us read.
constexpr size_t resourceSectionCap = 16 * 1024 * 1024;

struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawSize;
    uint32_t rawOffset;
};

// The bytes of a PE image that an address (RVA) points into, as laid out in
// the file.
class PeImage {
public:
    PeImage(const ByteSource& file, std::vector<Section> sections)
        : m_file(file), m_sections(std::move(sections)) {}

    // length bytes at the address, when they lie in one section's file data.
    std::optional<std::string> readAddress(uint32_t address, uint32_t length) const {
        for (const Section& section : m_sections) {
            const uint64_t span = std::max(section.virtualSize, section.rawSize);
            if (address < section.virtualAddress || address - section.virtualAddress >= span) {
                continue;
            }
            const uint32_t within = address - section.virtualAddress;
            if (within > section.rawSize || length > section.rawSize - within) {
                return std::nullopt;
            }
            return m_file.read(uint64_t{section.rawOffset} + within, length);
        }
        return std::nullopt;
    }

    // The rest of the section from the address on, capped.
    std::optional<std::string> readToSectionEnd(uint32_t address) const {
        for (const Section& section : m_sections) {
            if (address < section.virtualAddress ||
                address - section.virtualAddress >= section.rawSize) {
                continue;
            }
            const uint32_t within = address - section.virtualAddress;
            const uint64_t offset = uint64_t{section.rawOffset} + within;
            if (offset > m_file.size()) {
                return std::nullopt;
            }
            uint64_t length = std::min<uint64_t>(section.rawSize - within, m_file.size() - offset);
            length = std::min<uint64_t>(length, resourceSectionCap);
            return m_file.read(offset, static_cast<size_t>(length));
        }
        return std::nullopt;
    }

private:
    const ByteSource& m_file;
    std::vector<Section> m_sections;
};

struct PeLayout {
    uint32_t resourceAddress;
    std::vector<Section> sections;
};

// The image's sections and the address of its resource directory.
std::optional<PeLayout> readHeaders(const ByteSource& file) {
    const auto dos = file.read(0, 64);
    if (!dos || dos->compare(0, 2, "MZ") != 0) {
        return std::nullopt;
    }
    const auto peOffset = ByteReader(*dos).u32(0x3C);
    if (!peOffset) {
        return std::nullopt;
    }
    const auto coff = file.read(*peOffset, 24);
    if (!coff || coff->compare(0, 4, std::string_view("PE\0\0", 4)) != 0) {
        return std::nullopt;
    }
    const ByteReader coffReader(*coff);
    const uint16_t sectionCount = coffReader.u16(6).value_or(0);
    const uint16_t optionalSize = coffReader.u16(20).value_or(0);
    const auto optional = file.read(uint64_t{*peOffset} + 24, optionalSize);
    if (!optional) {
        return std::nullopt;
    }
    const ByteReader optionalReader(*optional);
    const auto magic = optionalReader.u16(0);
    // The data directories follow the fields that differ between PE32 and
    // PE32+.
    uint64_t directoriesAt = 0;
    if (magic == 0x10b) {
        directoriesAt = 96;
    } else if (magic == 0x20b) {
        directoriesAt = 112;
    } else {
        return std::nullopt;
    }
    const auto directoryCount = optionalReader.u32(directoriesAt - 4);
    const auto resourceRva = optionalReader.u32(directoriesAt + 2 * 8);
    if (!directoryCount || *directoryCount <= 2 || !resourceRva || *resourceRva == 0) {
        return std::nullopt;
    }
    const auto table = file.read(uint64_t{*peOffset} + 24 + optionalSize,
                                 size_t{sectionCount} * sectionHeaderSize);
    if (!table) {
        return std::nullopt;
    }
    const ByteReader tableReader(*table);
    std::vector<Section> sections;
    for (size_t i = 0; i < sectionCount; ++i) {
        const uint64_t at = i * sectionHeaderSize;
        sections.push_back(
            {tableReader.u32(at + 12).value_or(0), tableReader.u32(at + 8).value_or(0),
             tableReader.u32(at + 16).value_or(0), tableReader.u32(at + 20).value_or(0)});
    }
    return PeLayout{*resourceRva, std::move(sections)};
}

// The target of the first entry of a directory in the resource tree that
// has the wanted ID (any entry when none is wanted), and whether that target
// is itself a directory.
std::optional<std::pair<uint32_t, bool>> findEntry(const ByteReader& tree, uint32_t directory,
                                                   std::optional<uint32_t> wantedId) {
    const auto named = tree.u16(uint64_t{directory} + 12);
    const auto ids = tree.u16(uint64_t{directory} + 14);
    if (!named || !ids) {
        return std::nullopt;
    }
    const uint64_t first = uint64_t{directory} + resourceDirectorySize;
    const uint32_t count = uint32_t{*named} + *ids;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = first + uint64_t{i} * resourceEntrySize;
        const auto name = tree.u32(at);
        const auto target = tree.u32(at + 4);
        if (!name || !target) {
            return std::nullopt;
        }
        if (wantedId && *name != *wantedId) {
            continue;
        }
        return std::pair<uint32_t, bool>{*target & ~highBit, (*target & highBit) != 0};
    }
    return std::nullopt;
}

std::string fixedFileVersion(std::string_view info) {
    // VS_VERSIONINFO: length, value length, type, the key "VS_VERSION_INFO"
    // in UTF-16 with its terminator, padding to 32 bits, then the value.
    static constexpr std::u16string_view key = u"VS_VERSION_INFO";
    const ByteReader reader(info);
    const auto valueLength = reader.u16(2);
    if (!valueLength || *valueLength < 52) {
        return {};
    }
    for (size_t i = 0; i <= key.size(); ++i) {
        const char16_t expected = i < key.size() ? key[i] : u'\0';
        if (reader.u16(6 + 2 * i) != uint16_t{expected}) {
            return {};
        }
    }
    const uint64_t valueAt = (6 + 2 * (key.size() + 1) + 3) / 4 * 4;
    const auto signature = reader.u32(valueAt);
    const auto high = reader.u32(valueAt + 8);
    const auto low = reader.u32(valueAt + 12);
    if (signature != fixedFileInfoSignature || !high || !low) {
        return {};
    }
    return std::to_string(*high >> 16) + "." + std::to_string(*high & 0xFFFF) + "." +
           std::to_string(*low >> 16) + "." + std::to_string(*low & 0xFFFF);
}

} // namespace

std::string readPeVersion(const ByteSource& file) {
    auto layout = readHeaders(file);
    if (!layout) {
        return {};
    }
    const PeImage image(file, std::move(layout->sections));
    const auto treeBytes = image.readToSectionEnd(layout->resourceAddress);
    if (!treeBytes) {
        return {};
    }
    const ByteReader tree(*treeBytes);
    // Type, then name, then language; the first name and language are taken.
    const auto byType = findEntry(tree, 0, versionResourceType);
    if (!byType || !byType->second) {
        return {};
    }
    const auto byName = findEntry(tree, byType->first, std::nullopt);
    if (!byName || !byName->second) {
        return {};
    }
    const auto byLanguage = findEntry(tree, byName->first, std::nullopt);
    if (!byLanguage || byLanguage->second) {
        return {};
    }
    const auto dataAddress = tree.u32(byLanguage->first);
    const auto dataSize = tree.u32(uint64_t{byLanguage->first} + 4);
    if (!dataAddress || !dataSize) {
        return {};
    }
    // The version block's own length field is 16 bits wide.
    const auto info = image.readAddress(*dataAddress, std::min<uint32_t>(*dataSize, 0xFFFF));
    return info ? fixedFileVersion(*info) : std::string{};
}

} // namespace platform
