#include "fetch/PartialPackage.h"

#include "fileio/Names.h"
#include "fileio/Reading.h"
#include "fileio/Writing.h"
#include "platform/Error.h"
#include "signature/Base64.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace updater {

namespace {

// An identity is a few short lines; anything longer was not written by us.
constexpr off_t longestIdentity = 4096;

const std::pair<const char*, std::string DownloadIdentity::*> fields[] = {
    {"url", &DownloadIdentity::url},
    {"size", &DownloadIdentity::size},
    {"sha512", &DownloadIdentity::sha512},
    {"etag", &DownloadIdentity::etag},
    {"last-modified", &DownloadIdentity::lastModified},
};

std::optional<DownloadIdentity> parseIdentity(const std::string& text) {
    DownloadIdentity identity;
    std::size_t at = 0;
    for (const auto& [name, member] : fields) {
        const std::string start = std::string(name) + "=";
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos || text.compare(at, start.size(), start) != 0) {
            return std::nullopt;
        }
        identity.*member = text.substr(at + start.size(), end - at - start.size());
        at = end + 1;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return identity;
}

std::optional<DownloadIdentity> readIdentity(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size > longestIdentity) {
        return std::nullopt;
    }
    std::string text;
    if (fileio::readWholeFile(path, text) != 0) {
        return std::nullopt;
    }
    return parseIdentity(text);
}

} // namespace

bool DownloadIdentity::samePackage(const DownloadIdentity& other) const {
    return url == other.url && size == other.size && sha512 == other.sha512;
}

std::string DownloadIdentity::validator() const {
    // A weak ETag promises no byte-for-byte sameness: never used for a range.
    if (!etag.empty() && !etag.starts_with("W/")) {
        return etag;
    }
    return lastModified;
}

bool DownloadIdentity::confirmedBy(const DownloadIdentity& answer) const {
    const std::string sent = validator();
    return sent.empty() || (sent == etag ? answer.etag : answer.lastModified) == sent;
}

DownloadIdentity downloadIdentity(const std::string& url,
                                  const std::optional<signature::ReleaseLine>& announced) {
    DownloadIdentity identity;
    identity.url = url;
    if (announced) {
        identity.size = std::to_string(announced->size);
        identity.sha512 =
            signature::encodeBase64(announced->sha512.data(), announced->sha512.size());
    }
    return identity;
}

std::string identityFileOf(const std::string& package) {
    return package + ".resume";
}

std::optional<KeptPart> keptPart(const std::string& package, const DownloadIdentity& wanted) {
    const std::optional<DownloadIdentity> identity = readIdentity(identityFileOf(package));
    if (!identity || !identity->samePackage(wanted)) {
        return std::nullopt;
    }
    // Without an announced digest only the server can say the rest belongs.
    if (wanted.sha512.empty() && identity->validator().empty()) {
        return std::nullopt;
    }
    struct stat status {};
    if (::lstat(package.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
        return std::nullopt;
    }
    const auto bytes = static_cast<std::uint64_t>(status.st_size);
    if (!wanted.size.empty() && bytes >= std::stoull(wanted.size)) {
        return std::nullopt;
    }
    return KeptPart{bytes, *identity};
}

void keepOnlyPart(const std::string& package, platform::FileSystem& files,
                  const std::string& source) {
    const std::filesystem::path packagePath(package);
    const std::filesystem::path identityPath(identityFileOf(package));
    std::error_code error;
    std::vector<std::filesystem::path> others;
    for (std::filesystem::directory_iterator entry(packagePath.parent_path(), error), end;
         !error && entry != end; entry.increment(error)) {
        if (entry->path() != packagePath && entry->path() != identityPath) {
            others.push_back(entry->path());
        }
    }
    if (error) {
        throw platform::systemError(error.value(), source, packagePath.parent_path());
    }
    for (const std::filesystem::path& other : others) {
        struct stat status {};
        if (::lstat(other.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
            files.DeleteFolder(other, true);
        } else if (const int failure = fileio::removeFile(other); failure != 0) {
            throw platform::systemError(failure, source, other);
        }
    }
}

void rememberDownload(const std::string& package, const DownloadIdentity& identity,
                      const std::string& source) {
    std::string text;
    for (const auto& [name, member] : fields) {
        const std::string& value = identity.*member;
        // A value that would cut its line is not kept: that download is
        // simply not resumed.
        if (value.find_first_of("\r\n") != std::string::npos) {
            forgetDownload(package, source);
            return;
        }
        text += std::string(name) + "=" + value + "\n";
    }
    const std::string path = identityFileOf(package);
    const fileio::UniqueFd fd =
        fileio::openFile(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    const int error = fd ? fileio::writeAll(fd.get(), text) : errno;
    if (error != 0) {
        throw platform::systemError(error, source, path);
    }
}

void forgetDownload(const std::string& package, const std::string& source) {
    const std::string path = identityFileOf(package);
    const int error = fileio::removeFile(path);
    if (error != 0 && error != ENOENT) {
        throw platform::systemError(error, source, path);
    }
}

} // namespace updater
