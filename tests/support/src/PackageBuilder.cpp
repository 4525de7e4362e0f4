#include "testsupport/PackageBuilder.h"

#include "testsupport/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace testsupport {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

} // namespace

void buildPackage(const std::string& archive, const std::vector<PackageEntry>& entries) {
    TempDir staging;
    std::string arguments;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string file = staging / std::to_string(i);
        writeFile(file, entries[i].content);
        arguments += " " + quoted(file) + " " + quoted(entries[i].name);
    }
    run("python3 -W ignore -c 'import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_DEFLATED)\n"
        "for i in range(2, len(sys.argv), 2): z.write(sys.argv[i], sys.argv[i + 1])\n"
        "z.close()' " +
        quoted(archive) + arguments);
}

void buildEncryptedPackage(const std::string& archive, const std::vector<PackageEntry>& entries,
                           const std::string& password, Encryption encryption) {
    TempDir staging;
    std::string names;
    for (const PackageEntry& entry : entries) {
        const std::filesystem::path file = std::filesystem::path(staging.path()) / entry.name;
        std::filesystem::create_directories(file.parent_path());
        writeFile(file.string(), entry.content);
        names += " " + quoted(entry.name);
    }
    const std::string method = encryption == Encryption::aes256 ? "AES256" : "ZipCrypto";
    run("cd " + quoted(staging.path()) + " && 7z a -bd -bso0 -tzip -mem=" + method + " -p" +
        quoted(password) + " " + quoted(archive) + names);
}

} // namespace testsupport
