#include "Package.h"

#include "ReleaseManifest.h"
#include "delta/ChunkMap.h"
#include "delta/Manifest.h"

#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "platform/Error.h"
#include "publisher/PublishError.h"
#include "text/LetterCase.h"
#include "unzip/CGUnzipFiles.h"
#include "zip/CGZipFiles.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

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
    const ReleaseFile* release = nullptr; // null for the written updater.ini
};

// How the release changed since it was read, or the empty text.
std::string changeSinceRead(const Release& release) {
    for (const ReleaseFile& file : release.files) {
        try {
            openAsRead(release, file);
        } catch (const PublishError& change) {
            return change.what();
        }
    }
    return {};
}

// Whether two open files hold the same bytes; a read failure of the first
// (the release's) is refused naming path.
bool sameBytes(int first, int second, const std::string& path) {
    constexpr std::size_t chunk = 64 * 1024;
    std::vector<char> bytesA(chunk);
    std::vector<char> bytesB(chunk);
    for (off_t offset = 0;; offset += static_cast<off_t>(chunk)) {
        std::size_t gotA = 0;
        std::size_t gotB = 0;
        if (const int failure = fileio::readAt(first, bytesA.data(), chunk, offset, gotA);
            failure != 0) {
            throw PublishError("cannot read " + path + ": " + fileio::systemReason(failure));
        }
        if (fileio::readAt(second, bytesB.data(), chunk, offset, gotB) != 0 || gotA != gotB ||
            std::memcmp(bytesA.data(), bytesB.data(), gotA) != 0) {
            return false;
        }
        if (gotA < chunk) {
            return true;
        }
    }
}

bool ownerExecutable(const std::string& path) {
    return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

// Runs the zip call; a failure is refused with the library's messages, and
// first with how the release changed meanwhile when it did (release null:
// nothing of the release is packed).
void makeArchive(CGZipFiles& zip, const std::string& what, const Release* release) {
    const int32_t result = zip.MakeZipFile();
    if (result != 0) {
        const std::string change = release != nullptr ? changeSinceRead(*release) : "";
        const std::string messages = zip.GetLastMessage();
        throw PublishError((change.empty() ? "" : change + ".\n") + "the zip library could not " +
                           what + " (result " + std::to_string(result) + ")" +
                           (messages.empty() ? ", and it said nothing more" : ":\n" + messages));
    }
}

// One zip call on archivePath: setUp names what goes in and returns what to
// take from the list once the call succeeded. A failure is refused as
// makeArchive refuses it, or with the binding's error.
template <typename SetUp>
void zipCall(const std::string& archivePath, const std::string& what, const Release* release,
             SetUp setUp) {
    try {
        CGZipFiles zip;
        zip.ZipFileName(archivePath);
        zip.RemoveFile(placeholderName);
        const auto after = setUp(zip);
        makeArchive(zip, what, release);
        after(zip);
    } catch (const platform::Error& failure) {
        throw PublishError("cannot build the package: " + failure.description());
    }
}

// Every file the updater will find in its temp folder, by name.
std::map<std::u32string, ExpectedFile> expectedFiles(const Release& release,
                                                     const PackageFolders& folders) {
    std::map<std::u32string, ExpectedFile> expected;
    for (const ReleaseFile& file : release.files) {
        expected[text::foldCase(file.name)] = {release.root + "/" + file.path, file.path,
                                               file.executable, &file};
    }
    if (!folders.writtenFolder.empty()) {
        expected[text::foldCase(instructionFileName)] = {
            folders.writtenFolder + "/" + instructionFileName, instructionFileName, false, nullptr};
    }
    for (const std::string_view written : {delta::manifestEntryName, delta::chunkMapEntryName}) {
        const std::string name(written);
        if (fs::exists(folders.manifestFolder + "/" + name)) {
            expected[text::foldCase(name)] = {folders.manifestFolder + "/" + name, name, false,
                                              nullptr};
        }
    }
    return expected;
}

// A package that differs from a release that is as it was read: most
// likely the zip library, which finds the root without regard to letter
// case, took a look-alike folder.
PublishError differsFromRelease(const std::string& what) {
    return PublishError(what + ". The zip library finds the release folder's path without "
                               "regard to letter case: a folder whose path differs from it only "
                               "in case may have been packed instead.");
}

// The package brings a file of this name that the release did not have when
// it was read: one added to the release folder since, or a look-alike's.
PublishError unknownFile(const Release& release, const std::string& name) {
    std::error_code failure;
    for (fs::recursive_directory_iterator
             it(release.root, fs::directory_options::skip_permission_denied, failure),
         end;
         !failure && it != end; it.increment(failure)) {
        if (text::foldCase(it->path().filename().string()) == text::foldCase(name)) {
            return PublishError("the package brings " + name + ", which was added to the release " +
                                "folder (as " + fs::relative(it->path(), release.root).string() +
                                ") while it was being packed" + publishAgain);
        }
    }
    return differsFromRelease("the package brings " + name + ", which is not in the release");
}

// Whether the unpacked file holds the expected one's bytes; a release file
// that is no longer the one read is refused as a change of the release.
bool holdsAsItIs(const Release& release, const ExpectedFile& file, const std::string& unpacked) {
    struct stat status {};
    const fileio::UniqueFd source = file.release != nullptr
                                        ? openAsRead(release, *file.release)
                                        : fileio::openRegularFile(file.source, status);
    if (!source) {
        throw PublishError("cannot read " + file.source + ": " + fileio::systemReason(errno));
    }
    const fileio::UniqueFd copy = fileio::openRegularFile(unpacked, status);
    return copy && sameBytes(source.get(), copy.get(), file.path);
}

} // namespace

std::vector<WrittenChunk> buildPackage(const Release& release, const std::string& archivePath) {
    if (release.packageNames.size() > mostPackageNames) {
        throw PublishError("the release names " + std::to_string(release.packageNames.size()) +
                           " entries for the package, at most " + std::to_string(mostPackageNames) +
                           " can be: the entries at its top and the hidden ones (names "
                           "beginning with \".\") further down. Gather files into folders.");
    }
    std::vector<WrittenChunk> written;
    zipCall(archivePath, "build the package", &release, [&](CGZipFiles& zip) {
        zip.RootDirectory(release.root);
        zip.RecurseFolders(true);
        zip.smallestChunkedFile(release.chunkedFrom);
        for (const std::string& name : release.packageNames) {
            zip.AddFile(name);
        }
        return [&written](const CGZipFiles& done) {
            for (const CodeModule::ZipChunk& chunk : done.chunks()) {
                written.push_back(
                    {chunk.entryName, chunk.uncompressedLength, chunk.compressedLength});
            }
        };
    });
    return written;
}

void finishPackage(const PackageFolders& folders, const std::string& archivePath) {
    // The written instruction file deflated, as every fetch takes it whole.
    if (!folders.writtenFolder.empty()) {
        zipCall(archivePath, "add updater.ini to the package", nullptr, [&](CGZipFiles& zip) {
            zip.RootDirectory(folders.writtenFolder);
            zip.UpdatingZip(true);
            zip.AddFile(instructionFileName);
            return [](const CGZipFiles&) {};
        });
    }
    zipCall(archivePath, "end the package with its manifest", nullptr, [&](CGZipFiles& trailer) {
        trailer.RootDirectory(folders.manifestFolder);
        trailer.UpdatingZip(true);
        trailer.storedOnly(true);
        if (fs::exists(folders.manifestFolder + "/" + std::string(delta::chunkMapEntryName))) {
            trailer.AddFile(std::string(delta::chunkMapEntryName));
        }
        trailer.AddFile(std::string(delta::manifestEntryName));
        return [](const CGZipFiles&) {};
    });
}

void checkPackage(const Release& release, const PackageFolders& folders,
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

    auto expected = expectedFiles(release, folders);
    for (const fs::directory_entry& entry : fs::directory_iterator(checkFolder)) {
        const std::string name = entry.path().filename().string();
        const auto found = expected.find(text::foldCase(name));
        if (found == expected.end()) {
            throw unknownFile(release, name);
        }
        const ExpectedFile& file = found->second;
        if (!holdsAsItIs(release, file, entry.path().string())) {
            throw differsFromRelease("the package does not hold " + file.path + " as it is");
        }
        if (file.executable && !ownerExecutable(entry.path().string())) {
            throw PublishError("the package loses the execute permission of " + file.path);
        }
        expected.erase(found);
    }
    if (!expected.empty()) {
        const ExpectedFile& missing = expected.begin()->second;
        if (missing.release != nullptr) {
            openAsRead(release, *missing.release);
        }
        throw differsFromRelease("the package lacks " + missing.path);
    }
    checkManifest(archivePath, checkFolder);
}

} // namespace publisher
