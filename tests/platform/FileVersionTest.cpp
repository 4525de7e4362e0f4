#include "platform/version/FileVersion.h"
#include "platform/Error.h"
#include "platform/files/DiskFileSystem.h"
#include "platform/version/ByteSource.h"
#include "platform/version/PackageMetadata.h"
#include "testsupport/TempDir.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using platform::MemoryByteSource;
using platform::readFileVersion;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// Little-endian fields written into a growing block of bytes.
class Bytes {
public:
    void put16(size_t at, uint32_t value) { put(at, value, 2); }
    void put32(size_t at, uint32_t value) { put(at, value, 4); }
    void putText(size_t at, const std::string& text) {
        grow(at + text.size());
        m_bytes.replace(at, text.size(), text);
    }
    void putWide(size_t at, const std::u16string& text) {
        for (size_t i = 0; i < text.size(); ++i) {
            put16(at + 2 * i, text[i]);
        }
    }
    const std::string& str() const { return m_bytes; }

private:
    void grow(size_t size) {
        if (m_bytes.size() < size) {
            m_bytes.resize(size, '\0');
        }
    }
    void put(size_t at, uint32_t value, size_t width) {
        grow(at + width);
        for (size_t i = 0; i < width; ++i) {
            m_bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
        }
    }
    std::string m_bytes;
};

struct PeOptions {
    bool wide = false;          // PE32+ instead of PE32
    uint32_t resourceType = 16; // RT_VERSION
    uint16_t valueLength = 52;  // size of the fixed file information
    uint32_t signature = 0xFEEF04BD;
};

constexpr size_t rawOffset = 0x200;
constexpr uint32_t sectionAddress = 0x1000;
constexpr size_t versionAt = 0x58; // within the resource section

// A minimal PE image whose only section is .rsrc holding a three-level
// resource tree (type, name, language) that leads to a VS_VERSIONINFO with
// file version 1.2.0.5. The file ends where the version block ends.
std::string buildPe(const PeOptions& options = {}) {
    Bytes pe;
    pe.putText(0, "MZ");
    pe.put32(0x3C, 0x40);
    pe.putText(0x40, std::string("PE\0\0", 4));
    const uint32_t optionalSize = options.wide ? 240 : 224;
    pe.put16(0x44, options.wide ? 0x8664 : 0x14C);
    pe.put16(0x46, 1);
    pe.put16(0x54, optionalSize);
    const size_t optional = 0x58;
    pe.put16(optional, options.wide ? 0x20B : 0x10B);
    const size_t directories = optional + (options.wide ? 112 : 96);
    pe.put32(directories - 4, 16);
    const uint32_t versionLength = 40 + options.valueLength;
    const uint32_t resourceSize = static_cast<uint32_t>(versionAt) + versionLength;
    pe.put32(directories + 16, sectionAddress);
    pe.put32(directories + 20, resourceSize);
    const size_t section = optional + optionalSize;
    pe.putText(section, ".rsrc");
    pe.put32(section + 8, resourceSize);
    pe.put32(section + 12, sectionAddress);
    pe.put32(section + 16, resourceSize);
    pe.put32(section + 20, rawOffset);

    const size_t r = rawOffset;
    const uint32_t subdirectory = 0x80000000u;
    pe.put16(r + 0x0E, 1);
    pe.put32(r + 0x10, options.resourceType);
    pe.put32(r + 0x14, subdirectory | 0x18);
    pe.put16(r + 0x18 + 0x0E, 1);
    pe.put32(r + 0x28, 1);
    pe.put32(r + 0x2C, subdirectory | 0x30);
    pe.put16(r + 0x30 + 0x0E, 1);
    pe.put32(r + 0x40, 0x409);
    pe.put32(r + 0x44, 0x48);
    pe.put32(r + 0x48, sectionAddress + static_cast<uint32_t>(versionAt));
    pe.put32(r + 0x4C, versionLength);

    const size_t v = r + versionAt;
    pe.put16(v, versionLength);
    pe.put16(v + 2, options.valueLength);
    pe.putWide(v + 6, u"VS_VERSION_INFO");
    if (options.valueLength >= 52) {
        pe.put32(v + 40, options.signature);
        pe.put32(v + 44, 0x00010000);
        pe.put32(v + 48, (1u << 16) | 2u);
        pe.put32(v + 52, (0u << 16) | 5u);
    }
    std::string bytes = pe.str();
    bytes.resize(v + versionLength, '\0');
    return bytes;
}

std::string versionOf(const std::string& bytes) {
    return readFileVersion(MemoryByteSource(bytes));
}

struct PeCase {
    const char* name;
    PeOptions options;
    const char* expected;
};

TEST(PeVersion, ReadsTheFixedFileVersionOrNothing) {
    const PeCase cases[] = {
        {"PE32 with version", {}, "1.2.0.5"},
        {"PE32+ with version", {.wide = true}, "1.2.0.5"},
        {"icon instead of version", {.resourceType = 3}, ""},
        {"version block without fixed info", {.valueLength = 0}, ""},
        {"wrong signature", {.signature = 0xFEEF04BC}, ""},
    };
    for (const PeCase& c : cases) {
        EXPECT_EQ(versionOf(buildPe(c.options)), c.expected) << c.name;
    }
}

TEST(PeVersion, EveryTruncationGivesTheEmptyText) {
    const std::string pe = buildPe();
    for (size_t length = 0; length < pe.size(); ++length) {
        ASSERT_EQ(versionOf(pe.substr(0, length)), "") << "cut at " << length;
    }
}

TEST(PeVersion, HostileFieldsGiveTheEmptyText) {
    struct Mutation {
        const char* name;
        std::vector<std::pair<size_t, uint32_t>> writes;
    };
    const size_t sectionHeader = 0x58 + 224;
    const Mutation mutations[] = {
        {"PE header far beyond the end", {{0x3C, 0xFFFFFFF0}}},
        {"section count past the table", {{0x46, 0xFFFF}}},
        {"name level loops back to the root", {{rawOffset + 0x14, 0x80000000u}}},
        {"language level loops back to the root", {{rawOffset + 0x2C, 0x80000000u}}},
        {"subdirectory beyond the section", {{rawOffset + 0x14, 0x8FFFFFF0u}}},
        {"entries run past the section", {{rawOffset + 0x0E, 0xFFFF}, {rawOffset + 0x10, 3}}},
        {"data beyond every section", {{rawOffset + 0x48, 0x7FFFFFF0}}},
        {"data larger than the section", {{rawOffset + 0x4C, 0xFFFFFFFF}}},
        {"section data beyond the file", {{sectionHeader + 20, 0xFFFFFF00}}},
    };
    for (const Mutation& m : mutations) {
        Bytes pe;
        pe.putText(0, buildPe());
        for (const auto& [at, value] : m.writes) {
            pe.put32(at, value);
        }
        EXPECT_EQ(versionOf(pe.str()), "") << m.name;
    }
}

// A version that came out of a damaged file is still four numbers, or none.
bool isFourPartVersionOrEmpty(const std::string& version) {
    return version.empty() || std::count(version.begin(), version.end(), '.') == 3;
}

TEST(PeVersion, NoSingleCorruptByteMakesReadingFail) {
    // Any well-formed answer will do; what must not happen is a crash or a
    // read out of bounds, which the sanitizer build reports.
    const std::string pe = buildPe();
    for (size_t at = 0; at < pe.size(); ++at) {
        std::string corrupt = pe;
        corrupt[at] = static_cast<char>(~corrupt[at]);
        ASSERT_TRUE(isFourPartVersionOrEmpty(versionOf(corrupt))) << "byte " << at;
    }
}

// Programs linked at test time, one with each package metadata note.
class ElfVersion : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_folder = new TempDir;
        compile("with-note", R"({"type":"app","name":"morvane","version":"1.2.0.5"})");
        compile("short-version", R"({"type":"app","name":"morvane","version":"3.1"})");
        compile("no-note", "");
    }
    static void TearDownTestSuite() {
        delete s_folder;
        s_folder = nullptr;
    }
    static std::string program(const std::string& name) { return *s_folder / name; }

private:
    static void compile(const std::string& name, const std::string& metadata) {
        std::string command =
            "echo 'int main(void) { return 0; }' | gcc -x c - -o '" + program(name) + "'";
        // -Xlinker, because -Wl would split the JSON text at its commas.
        if (!metadata.empty()) {
            command += " -Xlinker '--package-metadata=" + metadata + "'";
        }
        if (std::system(command.c_str()) != 0) {
            s_failures += command + "\n";
        }
    }
    static TempDir* s_folder;

protected:
    // A failure in the suite's set-up would only skip the tests; each test
    // reports it instead.
    void SetUp() override { ASSERT_EQ(s_failures, "") << "could not link the programs"; }
    static std::string s_failures;
};

TempDir* ElfVersion::s_folder = nullptr;
std::string ElfVersion::s_failures;

TEST_F(ElfVersion, ReadsThePackageNote) {
    const struct {
        const char* program;
        const char* expected;
    } cases[] = {
        {"with-note", "1.2.0.5"},
        {"short-version", "3.1.0.0"},
        {"no-note", ""},
    };
    platform::DiskFileSystem fs;
    for (const auto& c : cases) {
        EXPECT_EQ(fs.GetFileVersion(program(c.program)), c.expected) << c.program;
    }
}

TEST_F(ElfVersion, TruncatedOrCorruptProgramsNeverFail) {
    const std::string elf = readFile(program("with-note"));
    ASSERT_GT(elf.size(), 1000u);
    // A cut may leave the note readable; it must never give a wrong answer.
    for (size_t length = 0; length < elf.size(); length += 3) {
        const std::string version = versionOf(elf.substr(0, length));
        ASSERT_TRUE(version.empty() || version == "1.2.0.5") << "cut at " << length;
    }
    for (size_t at = 0; at < elf.size(); ++at) {
        std::string corrupt = elf;
        corrupt[at] = static_cast<char>(~corrupt[at]);
        ASSERT_TRUE(isFourPartVersionOrEmpty(versionOf(corrupt))) << "byte " << at;
    }
}

TEST(FileVersion, FilesWithoutVersionGiveTheEmptyText) {
    TempDir dir;
    writeFile(dir / "notes.txt", "MZ is how this text begins\n");
    writeFile(dir / "empty", "");
    writeFile(dir / "pe.exe", buildPe());
    platform::DiskFileSystem fs;
    EXPECT_EQ(fs.GetFileVersion(dir / "notes.txt"), "");
    EXPECT_EQ(fs.GetFileVersion(dir / "empty"), "");
    EXPECT_EQ(fs.GetFileVersion(dir.path()), "");
    // Found without regard to letter case, like every path.
    EXPECT_EQ(fs.GetFileVersion(dir / "PE.EXE"), "1.2.0.5");
    try {
        fs.GetFileVersion(dir / "missing.exe");
        FAIL() << "a missing file raises";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), platform::ErrorNumber::fileNotFound);
    }
}

TEST(PackageMetadata, TakesTheLeadingNumbersOfTheTopLevelVersion) {
    const struct {
        const char* json;
        const char* expected;
    } cases[] = {
        {R"({"version":"1.2.5"})", "1.2.5.0"},
        {R"({"version":"1.2.3.4.5"})", "1.2.3.4"},
        {R"({"version":"2.0-beta.3"})", "2.0.0.0"},
        {R"({"version":"7."})", "7.0.0.0"},
        {R"({"version":"1..2"})", "1.0.0.0"},
        {R"({"version":"v1.2"})", ""},
        {R"({"version":""})", ""},
        {R"({"version":1.2})", ""},
        {R"({"name":"x"})", ""},
        {R"({"deps":{"version":"9.9"},"version":"1.0"})", "1.0.0.0"},
        {R"({"deps":[{"version":"9.9"}]})", ""},
        {R"({"name":"a \"version\": \"9\"","version":"4.5"})", "4.5.0.0"},
        {R"( { "version" : "\u0031.2" } )", "1.2.0.0"},
        {R"({"version":"1.2")", ""},
        {R"({"version":"1.2"} trailing)", ""},
        {R"(["version","1.2"])", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::packageMetadataVersion(c.json), c.expected) << c.json;
    }
}

} // namespace
