// The zip library on a small tree and option record that the input
// describes, and the round trip: whenever the options store the tree as it
// is, unpacking the archive with our unzip library gives back the same files.
//
// Input: four bytes of option bits, one byte for the level, one for which
// names to hand over, then records of a kind byte, a name and content (each
// prefixed by its length byte) for up to eight files and folders.
// Encryption takes bit 11 and bit 14 together: each encrypted entry costs a
// key derivation of a thousand rounds when it is read back, so one input in
// four encrypts, not one in two, and an encrypting input makes at most two
// files and folders: two entries show all that encryption adds (the second
// opened with the password the first took), and the rest runs that much
// more often.

#include "unzip32test/UnzipHarness.h"
#include "zip32test/ZipHarness.h"

#include "FuzzSandbox.h"
#include "LibzipKeyDerivation.h"
#include "LocalTimeZone.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::string text(std::size_t limit) {
        const std::size_t length =
            std::min<std::size_t>({byte(), limit, m_size - std::min(m_at, m_size)});
        std::string out(reinterpret_cast<const char*>(m_data + m_at), length);
        m_at += length;
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

// The bytes of the file name in the open folder fd; aborts when it cannot be
// read, since it was just listed.
std::string contentOf(int fd, const std::string& name) {
    const int file = openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    std::string content;
    char buffer[4096];
    ssize_t length = file < 0 ? -1 : 0;
    while (file >= 0 && (length = read(file, buffer, sizeof buffer)) > 0) {
        content.append(buffer, static_cast<std::size_t>(length));
    }
    if (length < 0) {
        std::abort();
    }
    close(file);
    return content;
}

// Adds the regular files below the open folder fd to files, by prefix and
// their names below it, and closes fd. Walked by open folders, not paths.
void addFilesBelow(int fd, const std::string& prefix, std::map<std::string, std::string>& files) {
    for (const auto& [name, folder] : namesIn(fd)) {
        const int inner =
            folder ? openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
        if (inner >= 0) {
            addFilesBelow(inner, prefix + name + "/", files);
            continue;
        }
        struct stat status {};
        if (fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode)) {
            files.emplace(prefix + name, contentOf(fd, name));
        }
    }
    close(fd);
}

// The regular files below folder by their names under it, with their bytes.
std::map<std::string, std::string> filesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        addFilesBelow(fd, "", files);
    }
    return files;
}

// The names directly in folder, in the order the file system lists them.
std::vector<std::string> namesDirectlyIn(const std::string& folder) {
    std::vector<std::string> names;
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        for (auto& entry : namesIn(fd)) {
            names.push_back(std::move(entry.name));
        }
        close(fd);
    }
    return names;
}

// Makes each folder on the way from tree to path and path itself, as far as
// it goes: a file in the way leaves the rest unmade.
void makeFolders(const std::string& tree, const std::string& path) {
    if (path.size() <= tree.size()) {
        return;
    }
    for (std::size_t at = path.find('/', tree.size() + 1); at != std::string::npos;
         at = path.find('/', at + 1)) {
        mkdir(path.substr(0, at).c_str(), 0777);
    }
    mkdir(path.c_str(), 0777);
}

// Puts content in a new file at path; a name already taken keeps what it has.
void makeFile(const std::string& path, const std::string& content) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
            std::abort(); // the sandbox lies in memory: a short write is a fault here
        }
        close(fd);
    }
}

} // namespace

// AddressSanitizer holds freed memory back to catch late uses. Each execution
// frees some megabytes (zlib's state for every entry), and held back 256 MiB
// deep, every allocation is fresh memory the kernel must fault in; 16 MiB
// still holds what the last few executions freed.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    readLocalTimeZoneOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& root = fuzzSandbox("zip-fuzz");
    const std::string tree = root + "/tree";
    const std::string out = root + "/out";
    const std::string archive = root + "/a.zip";
    clearFolder(root);
    mkdir(tree.c_str(), 0777);
    restartLibzipSalts();

    Input input(data, size);
    const uint32_t bits = input.byte() | input.byte() << 8 | input.byte() << 16 |
                          static_cast<uint32_t>(input.byte()) << 24;
    const uint8_t level = input.byte();
    const uint8_t naming = input.byte();
    const bool encrypts = ((bits >> 11) & (bits >> 14) & 1u) != 0;
    for (int i = 0; i < (encrypts ? 2 : 8) && !input.done(); ++i) {
        const uint8_t kind = input.byte();
        const std::string path = tree + "/" + safeName(input.text(24));
        const std::string content = input.text(255);
        if (kind % 5 == 0) {
            makeFolders(tree, path);
        } else {
            makeFolders(tree, path.substr(0, path.rfind('/')));
            makeFile(path, content);
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
    options.encryptEntries = encrypts ? 1 : 0;
    options.compressionLevel =
        static_cast<uint8_t>(level % 12 == 11 ? '0' + level % 10 : level % 11);
    call.password = std::string("pw");
    std::vector<std::string> names;
    if (naming % 3 == 0) {
        names = {"*"};
    } else {
        names = namesDirectlyIn(tree);
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
    mkdir(out.c_str(), 0777);
    if (unzip.run(archive, out) != 0 || filesBelow(out) != files) {
        std::abort(); // what we zipped did not come back as it was
    }
    return 0;
}
