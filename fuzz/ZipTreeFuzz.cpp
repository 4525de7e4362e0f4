// The zip library on a small tree and option record that the input
// describes, and the round trip: whenever the options store the tree as it
// is, unpacking the archive with our unzip library gives back the same files.
//
// Input: four bytes of option bits, one byte for the level, one for which
// names to hand over, then records of a kind byte, a name and content (each
// prefixed by its length byte) for up to eight files and folders.
// Encryption takes bit 11 and bit 14 together: each encrypted entry costs two
// key derivations of a thousand rounds, so one input in four encrypts, not
// one in two, and the rest runs that much more often.

#include "unzip32test/UnzipHarness.h"
#include "zip32test/ZipHarness.h"

#include "FuzzSandbox.h"
#include "fileio/Reading.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::string text(std::size_t limit) {
        const std::size_t length = std::min<std::size_t>(byte(), limit);
        std::string out;
        while (out.size() < length && m_at < m_size) {
            out.push_back(static_cast<char>(m_data[m_at++]));
        }
        return out;
    }
    bool done() const { return m_at >= m_size; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// A name made of safe characters, one or two levels deep; never empty.
std::string safeName(const std::string& raw) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123456789_-. ";
    std::string name;
    for (unsigned char c : raw) {
        name.push_back(c % 7 == 0 && !name.empty() && name.back() != '/' ? '/' : alphabet[c % 50]);
    }
    while (!name.empty() && (name.back() == '/' || name.back() == '.' || name.back() == ' ')) {
        name.pop_back();
    }
    if (name.empty() || name.front() == '.' || name.front() == ' ' || name.front() == '/') {
        name.insert(0, "f");
    }
    return name;
}

// The regular files below folder by their names under it, with their bytes.
std::map<std::string, std::string> filesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            std::string content;
            if (fileio::readWholeFile(entry.path(), content) != 0) {
                std::abort(); // a file just listed could not be read
            }
            // The iterator names each entry by folder and the names below it.
            files.emplace(entry.path().string().substr(folder.size() + 1), std::move(content));
        }
    }
    return files;
}

} // namespace

// AddressSanitizer holds freed memory back to catch late uses. Each execution
// frees some megabytes (zlib's state for every entry), and held back 256 MiB
// deep, every allocation is fresh memory the kernel must fault in; 16 MiB
// still holds what the last few executions freed.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& root = fuzzSandbox("zip-fuzz");
    const std::string tree = root + "/tree";
    const std::string out = root + "/out";
    const std::string archive = root + "/a.zip";
    emptyFolder(root);
    std::error_code ignored;
    fs::create_directory(tree);

    Input input(data, size);
    const uint32_t bits = input.byte() | input.byte() << 8 | input.byte() << 16 |
                          static_cast<uint32_t>(input.byte()) << 24;
    const uint8_t level = input.byte();
    const uint8_t naming = input.byte();
    for (int i = 0; i < 8 && !input.done(); ++i) {
        const uint8_t kind = input.byte();
        const fs::path path = fs::path(tree) / safeName(input.text(24));
        const std::string content = input.text(255);
        fs::create_directories(path.parent_path(), ignored);
        if (kind % 5 == 0) {
            fs::create_directories(path, ignored);
        } else if (!fs::exists(path)) {
            std::ofstream(path, std::ios::binary) << content;
        }
    }

    zip32test::ZipCall call(zip32test::linkedZipApi());
    ZpOptions& options = call.options;
    int32_t* flags[] = {&options.recurseFolders,
                        &options.junkFolderNames,
                        &options.noDirectoryEntries,
                        &options.includeSystemAndHidden,
                        &options.forceShortNames,
                        &options.crlfToLf,
                        &options.lfToCrlf,
                        &options.updateNewer,
                        &options.freshenNewer,
                        &options.deleteEntries,
                        &options.excludeExtraAttributes,
                        &options.encryptEntries,
                        &options.quiet,
                        &options.verbose};
    for (std::size_t i = 0; i < std::size(flags); ++i) {
        *flags[i] = (bits >> i) & 1u;
    }
    options.encryptEntries &= static_cast<int32_t>((bits >> 14) & 1u);
    options.compressionLevel =
        static_cast<uint8_t>(level % 12 == 11 ? '0' + level % 10 : level % 11);
    call.password = std::string("pw");
    std::vector<std::string> names;
    if (naming % 3 == 0) {
        names = {"*"};
    } else {
        for (const auto& entry : fs::directory_iterator(tree)) {
            names.push_back(entry.path().filename().string());
        }
        if (naming % 3 == 2 && !names.empty()) {
            names.front() += "?*";
        }
    }
    const int32_t result = call.run(archive, tree, names);

    // Stored as they are: recursing over every top-level name, nothing left
    // out, renamed or rewritten.
    const bool asTheyAre = naming % 3 == 1 && options.recurseFolders == 1 &&
                           options.junkFolderNames == 0 && options.forceShortNames == 0 &&
                           options.crlfToLf == 0 && options.lfToCrlf == 0 &&
                           options.freshenNewer == 0 && options.deleteEntries == 0 &&
                           options.includeSystemAndHidden == 1;
    if (result != 0 || !asTheyAre) {
        return 0;
    }
    const auto files = filesBelow(tree);
    if (files.empty()) {
        return 0;
    }
    unzip32test::UnzipCall unzip;
    unzip.options.quietLevel = 2;
    unzip.password = [](const std::string&) { return std::optional<std::string>("pw"); };
    fs::create_directory(out);
    if (unzip.run(archive, out) != 0 || filesBelow(out) != files) {
        std::abort(); // what we zipped did not come back as it was
    }
    return 0;
}
