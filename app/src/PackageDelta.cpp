#include "PackageDelta.h"

#include "PackageFile.h"

#include "delta/DeltaError.h"
#include "delta/DeltaPlan.h"
#include "delta/PackageDirectory.h"
#include "delta/Sha256.h"
#include "delta/StoredEntry.h"
#include "fileio/Names.h"
#include "fileio/Reading.h"
#include "fileio/Writing.h"
#include "text/LetterCase.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <map>
#include <set>
#include <span>
#include <sys/stat.h>
#include <utility>

namespace updater {

namespace {

const std::string deltaSource = "frmUpdater::DownloadFile";
// The end of the package asked for first: its directory is usually in it.
constexpr std::uint64_t firstTail = 64 * 1024;
// A directory larger than this is not worth fetching apart from the rest.
constexpr std::uint64_t longestTail = 64 * 1024 * 1024;
constexpr std::size_t copyPiece = 256 * 1024;
// The zip64 mark of a central record whose offset lies in its extra field.
constexpr std::uint32_t elsewhere = 0xffffffff;
constexpr std::uint16_t encryptedFlag = 1;
constexpr std::uint16_t stored = 0;
constexpr std::uint16_t deflated = 8;

// Puts the installed file into the temp folder as unpacking would put the
// entry: a second name of it when it has the mode unpacking gives (the
// copy into place then sees it is already there and leaves it), else a copy
// with that mode. The reason it could not.
std::optional<std::string> takeInstalled(const std::string& from, const std::string& to,
                                         std::uint16_t mode) {
    const mode_t unpackedMode = (mode & 0777) | S_IRUSR | S_IWUSR;
    struct stat status {};
    const fileio::UniqueFd input = fileio::openRegularFile(from, status);
    if (input && (status.st_mode & 0777) == unpackedMode && fileio::linkName(from, to) == 0) {
        return std::nullopt;
    }
    const fileio::UniqueFd output =
        fileio::openFile(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, unpackedMode);
    if (!input || !output) {
        return "cannot copy " + from + " to " + to;
    }
    std::vector<char> piece(copyPiece);
    for (;;) {
        const ssize_t got = fileio::readSome(input.get(), piece.data(), piece.size());
        if (got == 0) {
            return std::nullopt;
        }
        if (got < 0 ||
            fileio::writeAll(output.get(), piece.data(), static_cast<std::size_t>(got)) != 0) {
            return "cannot copy " + from + " to " + to;
        }
    }
}

unsigned char* bytesOf(std::string& text) {
    return reinterpret_cast<unsigned char*>(text.data());
}

} // namespace

struct PackageDelta::Gathered {
    std::size_t directoryIndex = 0;
    delta::DirectoryEntry entry;
    delta::ByteSpan span;
};

std::string unpackedName(const std::string& entryName) {
    const std::size_t slash = entryName.find_last_of("/\\");
    return slash == std::string::npos ? entryName : entryName.substr(slash + 1);
}

PackageDelta::PackageDelta(platform::InternetTransfer& transfer, std::function<void()> pump,
                           Progress progress)
    : m_fetch(transfer, pump), m_pump(std::move(pump)), m_progress(std::move(progress)) {}

std::optional<std::string>
PackageDelta::fetch(const std::string& url, const signature::ReleaseLine& release,
                    const std::string& installFolder, const std::string& tempFolder,
                    const std::string& archive,
                    const std::function<std::string(const std::string&)>& resolve) {
    m_fetched.clear();
    if (!release.manifest) {
        return "the release line names no manifest";
    }
    const std::uint64_t total = release.size;
    try {
        // The package's end, longer once when its directory needs it.
        std::string tail;
        delta::DirectoryReading reading;
        for (std::uint64_t length = std::min(total, firstTail);;) {
            tail.clear();
            if (auto failure = m_fetch.fetch(url, total - length, length, total,
                                             [&tail](const std::uint8_t* data, std::size_t size) {
                                                 tail.append(reinterpret_cast<const char*>(data),
                                                             size);
                                             })) {
                return failure;
            }
            reading = delta::readPackageDirectory(
                std::span(reinterpret_cast<const unsigned char*>(tail.data()), tail.size()), total);
            if (reading.outcome != delta::DirectoryReading::Outcome::needsMore ||
                length == reading.bytesNeeded || reading.bytesNeeded > longestTail ||
                reading.bytesNeeded > total) {
                break;
            }
            length = reading.bytesNeeded;
        }
        if (reading.outcome != delta::DirectoryReading::Outcome::read) {
            return "the package's directory: " + reading.why;
        }
        const delta::PackageDirectory& directory = reading.directory;
        const std::uint64_t tailOffset = total - tail.size();

        // The manifest, exactly the one the signed line names.
        const std::size_t manifestIndex = directory.find(delta::manifestEntryName);
        if (manifestIndex == directory.entries.size()) {
            return "the package has no manifest";
        }
        const delta::ByteSpan manifestSpan = directory.spans[manifestIndex];
        std::string manifestSpanBytes;
        if (auto failure = m_fetch.fetch(url, manifestSpan.offset, manifestSpan.length, total,
                                         [&](const std::uint8_t* data, std::size_t size) {
                                             manifestSpanBytes.append(
                                                 reinterpret_cast<const char*>(data), size);
                                         })) {
            return failure;
        }
        std::string why;
        const auto manifestBytes = delta::storedEntryBytes(
            std::span(reinterpret_cast<const unsigned char*>(manifestSpanBytes.data()),
                      manifestSpanBytes.size()),
            directory.entries[manifestIndex], why);
        if (!manifestBytes) {
            return "the manifest: " + why;
        }
        if (delta::sha256Of(*manifestBytes) != *release.manifest) {
            return "the manifest is not the one the release line names";
        }
        const auto manifest = delta::parseManifest(*manifestBytes, why);
        if (!manifest) {
            return "the manifest: " + why;
        }

        // Unpacking puts every file in one folder: two of one name there
        // would depend on their order, which is not worth following.
        std::set<std::u32string> names;
        for (const delta::DirectoryEntry& entry : directory.entries) {
            const std::string name = unpackedName(entry.name);
            if (name == "." || name == "..") {
                return entry.name + " names no file";
            }
            if (!name.empty() && !names.insert(text::foldCase(name)).second) {
                return "two entries unpack to " + name;
            }
        }

        std::map<std::string, std::string> installed; // path in the manifest, on disk
        const auto holds = [&](const std::string& path, std::uint64_t size,
                               const delta::Sha256& sha256) {
            const std::string found = resolve(installFolder + "/" + path);
            struct stat status {};
            if (::lstat(found.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
                static_cast<std::uint64_t>(status.st_size) != size) {
                return false;
            }
            m_pump();
            try {
                if (delta::sha256OfFile(found) != sha256) {
                    return false;
                }
            } catch (const delta::DeltaError&) {
                return false;
            }
            installed[path] = found;
            return true;
        };
        const auto plan = delta::planDelta(*manifest, directory, tail.size(), holds, why);
        if (!plan) {
            return "the manifest and the package's directory differ: " + why;
        }
        // Fetching nearly everything piece by piece saves nothing.
        if (plan->totalBytes() / 9 >= total / 10) {
            return "the installation holds too little of the release";
        }

        // What a full unpack brings that is not fetched: the manifest itself
        // and the files the installation already has.
        std::vector<Gathered> gathered;
        for (const delta::PlannedEntry& planned : plan->entries) {
            const delta::ManifestEntry& listed = manifest->entries[planned.manifestIndex];
            const delta::DirectoryEntry& entry = directory.entries[planned.directoryIndex];
            const std::string name = tempFolder + "/" + unpackedName(entry.name);
            if (planned.fetched) {
                if ((entry.flags & encryptedFlag) != 0 ||
                    (entry.method != stored && entry.method != deflated)) {
                    return entry.name + " is stored in a way only the whole package is taken in";
                }
                gathered.push_back({planned.directoryIndex, entry, planned.span});
                m_fetched.emplace_back(name, listed);
            } else if (auto failure =
                           takeInstalled(installed.at(listed.installedPath), name, listed.mode)) {
                return failure;
            }
        }
        const std::string manifestFile = tempFolder + "/" + std::string(delta::manifestEntryName);
        const fileio::UniqueFd out = fileio::openFile(
            manifestFile, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (!out || fileio::writeAll(out.get(), *manifestBytes) != 0) {
            return "cannot write " + manifestFile;
        }
        return gather(url, total, gathered, tail, tailOffset, archive,
                      tail.size() + manifestSpan.length, plan->totalBytes());
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

std::optional<std::string> PackageDelta::gather(const std::string& url, std::uint64_t total,
                                                const std::vector<Gathered>& entries,
                                                const std::string& tail, std::uint64_t tailOffset,
                                                const std::string& archive, std::uint64_t received,
                                                std::uint64_t planned) {
    std::vector<Gathered> inOrder = entries;
    std::sort(inOrder.begin(), inOrder.end(),
              [](const Gathered& a, const Gathered& b) { return a.span.offset < b.span.offset; });
    PackageFile file(archive, deltaSource, PackageFile::Opening::empty);
    std::string directory;
    std::uint64_t written = 0;
    m_progress(received, planned);
    for (std::size_t i = 0; i < inOrder.size();) {
        // Entries that lie side by side come in one request.
        std::size_t next = i + 1;
        std::uint64_t length = inOrder[i].span.length;
        while (next < inOrder.size() &&
               inOrder[next].span.offset == inOrder[i].span.offset + length) {
            length += inOrder[next].span.length;
            ++next;
        }
        for (std::size_t k = i; k < next; ++k) {
            const delta::DirectoryEntry& entry = inOrder[k].entry;
            if (entry.recordOffset < tailOffset) {
                return "the directory lies outside what was fetched";
            }
            std::string record = tail.substr(entry.recordOffset - tailOffset, entry.recordSize);
            const std::uint64_t offset =
                written + (inOrder[k].span.offset - inOrder[i].span.offset);
            unsigned char* field = bytesOf(record) + zipformat::centralLocalOffsetAt;
            if (zipformat::read32(field) == elsewhere || offset >= elsewhere) {
                return entry.name + " lies past 4 GiB";
            }
            zipformat::writeLittleEndian(field, offset, 4);
            directory += record;
        }
        if (auto failure = m_fetch.fetch(url, inOrder[i].span.offset, length, total,
                                         [&](const std::uint8_t* data, std::size_t size) {
                                             file.write(data, size);
                                             received += size;
                                             m_progress(received, planned);
                                         })) {
            return failure;
        }
        written += length;
        i = next;
    }
    if (inOrder.size() > 0xffff || written + directory.size() >= elsewhere) {
        return "the entries to fetch need a large archive's records";
    }
    // The end record: one disk, the entries, the directory's size and
    // place, no comment.
    std::string end(zipformat::endRecordSize, '\0');
    unsigned char* at = bytesOf(end);
    zipformat::writeLittleEndian(at, zipformat::endRecordSignature, 4);
    zipformat::writeLittleEndian(at + 8, inOrder.size(), 2);
    zipformat::writeLittleEndian(at + 10, inOrder.size(), 2);
    zipformat::writeLittleEndian(at + 12, directory.size(), 4);
    zipformat::writeLittleEndian(at + 16, written, 4);
    directory += end;
    file.write(reinterpret_cast<const std::uint8_t*>(directory.data()), directory.size());
    file.close();
    return std::nullopt;
}

std::optional<std::string> PackageDelta::checkUnpacked() const {
    for (const auto& [path, listed] : m_fetched) {
        struct stat status {};
        try {
            if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
                static_cast<std::uint64_t>(status.st_size) != listed.size ||
                delta::sha256OfFile(path) != listed.sha256) {
                return path + " is not the file the manifest lists";
            }
        } catch (const delta::DeltaError& failure) {
            return failure.what();
        }
    }
    return std::nullopt;
}

} // namespace updater
