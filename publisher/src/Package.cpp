#include "Package.h"

#include "platform/Error.h"
#include "publisher/PublishError.h"
#include "text/LetterCase.h"
#include "unzip/CGUnzipFiles.h"
#include "zip/CGZipFiles.h"

#include <filesystem>
#include <fstream>
#include <map>

namespace publisher {

namespace fs = std::filesystem;

namespace {

// The library's name list has 100 slots; the placeholder name is removed
// first, so that all of them are the release's and a release entry of the
// placeholder's name can be added.
constexpr std::size_t mostPackageNames = 100;
const char* const placeholderName = "querty";

struct ExpectedFile {
    std::string source; // where its bytes are now
    std::string path;   // as the publisher knows it
    bool executable = false;
};

bool sameBytes(const std::string& first, const std::string& second) {
    std::ifstream a(first, std::ios::binary);
    std::ifstream b(second, std::ios::binary);
    if (!a || !b) {
        return false;
    }
    constexpr std::size_t chunk = 64 * 1024;
    std::string bufferA(chunk, '\0');
    std::string bufferB(chunk, '\0');
    while (a && b) {
        a.read(bufferA.data(), static_cast<std::streamsize>(chunk));
        b.read(bufferB.data(), static_cast<std::streamsize>(chunk));
        if (a.gcount() != b.gcount() ||
            bufferA.compare(0, static_cast<std::size_t>(a.gcount()), bufferB, 0,
                            static_cast<std::size_t>(b.gcount())) != 0) {
            return false;
        }
    }
    return a.eof() && b.eof();
}

bool ownerExecutable(const std::string& path) {
    return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

void makeArchive(CGZipFiles& zip, const std::string& what) {
    const int32_t result = zip.MakeZipFile();
    if (result != 0) {
        throw PublishError("the zip library could not " + what + " (result " +
                           std::to_string(result) + "):\n" + zip.GetLastMessage());
    }
}

// Every file the updater will find in its temp folder, by name.
std::map<std::u32string, ExpectedFile> expectedFiles(const Release& release,
                                                     const std::string& writtenFolder) {
    std::map<std::u32string, ExpectedFile> expected;
    for (const ReleaseFile& file : release.files) {
        expected[text::foldCase(file.name)] = {release.root + "/" + file.path, file.path,
                                               file.executable};
    }
    if (!writtenFolder.empty()) {
        expected[text::foldCase(instructionFileName)] = {writtenFolder + "/" + instructionFileName,
                                                         instructionFileName, false};
    }
    return expected;
}

// A package that differs from the release: most likely the zip library, which
// finds the root without regard to letter case, took a look-alike folder.
PublishError differsFromRelease(const std::string& what) {
    return PublishError(what + ". The zip library finds the release folder's path without "
                               "regard to letter case: a folder whose path differs from it only "
                               "in case may have been packed instead.");
}

} // namespace

void buildPackage(const Release& release, const std::string& writtenFolder,
                  const std::string& archivePath) {
    if (release.packageNames.size() > mostPackageNames) {
        throw PublishError("the release names " + std::to_string(release.packageNames.size()) +
                           " entries for the package, at most " + std::to_string(mostPackageNames) +
                           " can be: the entries at its top and the hidden ones (names "
                           "beginning with \".\") further down. Gather files into folders.");
    }
    try {
        CGZipFiles zip;
        zip.ZipFileName(archivePath);
        zip.RootDirectory(release.root);
        zip.RecurseFolders(true);
        zip.RemoveFile(placeholderName);
        for (const std::string& name : release.packageNames) {
            zip.AddFile(name);
        }
        makeArchive(zip, "build the package");
        if (!writtenFolder.empty()) {
            CGZipFiles instructions;
            instructions.ZipFileName(archivePath);
            instructions.RootDirectory(writtenFolder);
            instructions.UpdatingZip(true);
            instructions.RemoveFile(placeholderName);
            instructions.AddFile(instructionFileName);
            makeArchive(instructions, "add updater.ini to the package");
        }
    } catch (const platform::Error& failure) {
        throw PublishError("cannot build the package: " + failure.description());
    }
}

void checkPackage(const Release& release, const std::string& writtenFolder,
                  const std::string& archivePath, const std::string& checkFolder) {
    int32_t result = 0;
    std::string messages;
    try {
        fs::create_directory(checkFolder);
        CGUnzipFiles unzip;
        unzip.ZipFileName(archivePath);
        unzip.ExtractDir(checkFolder);
        unzip.HonorDirectories(false);
        result = unzip.Unzip("", "");
        messages = unzip.GetLastMessage();
    } catch (const platform::Error& failure) {
        throw PublishError("cannot test the package: " + failure.description());
    } catch (const fs::filesystem_error& failure) {
        throw PublishError("cannot test the package: " + std::string(failure.what()));
    }
    if (result != 0) {
        throw PublishError("the package does not unpack cleanly (result " + std::to_string(result) +
                           "):\n" + messages);
    }

    auto expected = expectedFiles(release, writtenFolder);
    for (const fs::directory_entry& entry : fs::directory_iterator(checkFolder)) {
        const std::string name = entry.path().filename().string();
        const auto found = expected.find(text::foldCase(name));
        if (found == expected.end()) {
            throw differsFromRelease("the package brings " + name +
                                     ", which is not in the release");
        }
        const ExpectedFile& file = found->second;
        if (!entry.is_regular_file() || !sameBytes(file.source, entry.path().string())) {
            throw differsFromRelease("the package does not hold " + file.path + " as it is");
        }
        if (file.executable && !ownerExecutable(entry.path().string())) {
            throw PublishError("the package loses the execute permission of " + file.path);
        }
        expected.erase(found);
    }
    if (!expected.empty()) {
        throw differsFromRelease("the package lacks " + expected.begin()->second.path);
    }
}

} // namespace publisher
