#include "version/ElfVersion.h"

#include "platform/version/PackageMetadata.h"

#include <algorithm>
#include <optional>

namespace platform {
namespace {

constexpr std::string_view elfMagic = "\x7f"
                                      "ELF";
constexpr std::string_view noteSection = ".note.package";
constexpr std::string_view noteOwner = std::string_view("FDO\0", 4);
constexpr uint32_t packageMetadataType = 0xcafe1a7e;
constexpr uint16_t extendedIndex = 0xFFFF;
// Caps on what a hostile file makes us read.
constexpr uint64_t sectionCountCap = 65536;
constexpr uint64_t stringTableCap = 1024 * 1024;
constexpr uint64_t noteSectionCap = 1024 * 1024;

struct SectionHeader {
    uint32_t name = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t alignment = 0;
    uint32_t link = 0;
};

// Where the fields of the file and section headers lie for one ELF class.
struct ElfLayout {
    bool wide;
    uint64_t sectionTableField, entrySizeField, countField, namesIndexField;
    uint64_t nameField, offsetField, sizeField, linkField, alignmentField, entrySize;
};

constexpr ElfLayout layout32{false, 0x20, 0x2E, 0x30, 0x32, 0, 16, 20, 24, 32, 40};
constexpr ElfLayout layout64{true, 0x28, 0x3A, 0x3C, 0x3E, 0, 24, 32, 40, 48, 64};

class ElfFile {
public:
    ElfFile(const ByteSource& file, const ElfLayout& layout, bool bigEndian)
        : m_file(file), m_layout(layout), m_bigEndian(bigEndian) {}

    bool readHeader() {
        const auto header = m_file.read(0, m_layout.wide ? 64 : 52);
        if (!header) {
            return false;
        }
        const ByteReader reader(*header, m_bigEndian);
        m_tableOffset = word(reader, m_layout.sectionTableField).value_or(0);
        const uint16_t entrySize = reader.u16(m_layout.entrySizeField).value_or(0);
        m_count = reader.u16(m_layout.countField).value_or(0);
        m_namesIndex = reader.u16(m_layout.namesIndexField).value_or(0);
        if (m_tableOffset == 0 || m_tableOffset >= m_file.size() ||
            entrySize < m_layout.entrySize) {
            return false;
        }
        m_entrySize = entrySize;
        // Past 0xff00 sections the real count and name table index sit in
        // the first section header.
        const auto first = section(0);
        if (!first) {
            return false;
        }
        if (m_count == 0) {
            m_count = std::min(first->size, sectionCountCap);
        }
        if (m_namesIndex == extendedIndex) {
            m_namesIndex = first->link;
        }
        return true;
    }

    std::optional<SectionHeader> section(uint64_t index) const {
        const auto bytes = m_file.read(m_tableOffset + index * m_entrySize, m_layout.entrySize);
        if (!bytes) {
            return std::nullopt;
        }
        const ByteReader reader(*bytes, m_bigEndian);
        SectionHeader header;
        header.name = reader.u32(m_layout.nameField).value_or(0);
        header.offset = word(reader, m_layout.offsetField).value_or(0);
        header.size = word(reader, m_layout.sizeField).value_or(0);
        header.link = reader.u32(m_layout.linkField).value_or(0);
        header.alignment = word(reader, m_layout.alignmentField).value_or(0);
        return header;
    }

    std::optional<std::string> contents(const SectionHeader& header, uint64_t cap) const {
        return m_file.read(header.offset, static_cast<size_t>(std::min(header.size, cap)));
    }

    std::optional<SectionHeader> findSection(std::string_view wanted) const {
        const auto names = section(m_namesIndex);
        const auto table = names ? contents(*names, stringTableCap) : std::nullopt;
        if (!table) {
            return std::nullopt;
        }
        for (uint64_t i = 1; i < m_count; ++i) {
            const auto header = section(i);
            if (!header) {
                return std::nullopt;
            }
            if (header->name < table->size() &&
                std::string_view(table->c_str() + header->name) == wanted) {
                return header;
            }
        }
        return std::nullopt;
    }

    bool bigEndian() const { return m_bigEndian; }

private:
    std::optional<uint64_t> word(const ByteReader& reader, uint64_t offset) const {
        if (m_layout.wide) {
            return reader.u64(offset);
        }
        const auto value = reader.u32(offset);
        return value ? std::optional<uint64_t>(*value) : std::nullopt;
    }

    const ByteSource& m_file;
    const ElfLayout& m_layout;
    bool m_bigEndian;
    uint64_t m_tableOffset = 0;
    uint64_t m_entrySize = 0;
    uint64_t m_count = 0;
    uint32_t m_namesIndex = 0;
};

uint64_t alignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// The descriptor of the package metadata note among the notes of a section.
std::optional<std::string_view> packageNote(const ByteReader& notes, uint64_t alignment) {
    uint64_t at = 0;
    while (notes.contains(at, 12)) {
        const uint32_t nameSize = *notes.u32(at);
        const uint32_t descriptorSize = *notes.u32(at + 4);
        const uint32_t type = *notes.u32(at + 8);
        const uint64_t nameAt = at + 12;
        const uint64_t descriptorAt = alignUp(nameAt + nameSize, alignment);
        if (!notes.contains(nameAt, nameSize) || !notes.contains(descriptorAt, descriptorSize)) {
            return std::nullopt;
        }
        if (type == packageMetadataType && notes.bytes(nameAt, nameSize) == noteOwner) {
            return notes.bytes(descriptorAt, descriptorSize);
        }
        at = alignUp(descriptorAt + descriptorSize, alignment);
    }
    return std::nullopt;
}

} // namespace

std::string readElfVersion(const ByteSource& file) {
    const auto ident = file.read(0, 16);
    if (!ident || !ident->starts_with(elfMagic)) {
        return {};
    }
    const char elfClass = (*ident)[4];
    const char encoding = (*ident)[5];
    if ((elfClass != 1 && elfClass != 2) || (encoding != 1 && encoding != 2)) {
        return {};
    }
    ElfFile elf(file, elfClass == 2 ? layout64 : layout32, encoding == 2);
    if (!elf.readHeader()) {
        return {};
    }
    const auto section = elf.findSection(noteSection);
    const auto notes = section ? elf.contents(*section, noteSectionCap) : std::nullopt;
    if (!notes) {
        return {};
    }
    // Notes are padded to four bytes, or to eight where the section says so.
    const uint64_t alignment = section->alignment == 8 ? 8 : 4;
    const auto descriptor = packageNote(ByteReader(*notes, elf.bigEndian()), alignment);
    if (!descriptor) {
        return {};
    }
    // The JSON text usually carries its terminating zero.
    return packageMetadataVersion(descriptor->substr(0, descriptor->find('\0')));
}

} // namespace platform
