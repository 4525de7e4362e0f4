#pragma once

#include "platform/files/FileSystem.h"
#include "signature/ReleaseLine.h"

#include <cstdint>
#include <optional>
#include <string>

namespace updater {

// What a package download that was cut off is the start of, kept in a file
// beside it, so that the next run asks only for the rest and only of the
// same package. A keyed download is the package of one announced size and
// SHA-512; any download is also what the server called it (its ETag or
// Last-Modified), which the request for the rest hands back so that a
// server whose package changed sends all of it again.
struct DownloadIdentity {
    std::string url;
    std::string size;   // the announced size, "" without a release line
    std::string sha512; // the announced digest in base64, "" without one
    std::string etag;
    std::string lastModified;

    // Same address and the same announced package (validators aside).
    bool samePackage(const DownloadIdentity& other) const;
    // The If-Range value: a strong ETag, else Last-Modified, else "".
    std::string validator() const;
    // Whether an answer named as answer is this package as far as the
    // validator sent can tell: the same ETag when a strong one was sent, the
    // same Last-Modified when that was. A server may name the same file by a
    // weak ETag at first (written within its last second) and by a strong
    // one later: the date sent still tells.
    bool confirmedBy(const DownloadIdentity& answer) const;
};

DownloadIdentity downloadIdentity(const std::string& url,
                                  const std::optional<signature::ReleaseLine>& announced);

// The file that holds the identity of the package file at path.
std::string identityFileOf(const std::string& package);

// The bytes of the package at path worth asking the rest for: the package
// file's length when it is a regular file with something in it, shorter than
// an announced size, and its identity file names the wanted package with
// something the server can be asked to confirm (an announced digest or a
// validator). Nothing otherwise. Raises nothing.
struct KeptPart {
    std::uint64_t bytes = 0;
    DownloadIdentity identity;
};
std::optional<KeptPart> keptPart(const std::string& package, const DownloadIdentity& wanted);

// Empties the package's folder but for the package and its identity file:
// nothing else an earlier run left stays to be carried out. Links are
// removed, never followed; raises the first failure.
void keepOnlyPart(const std::string& package, platform::FileSystem& files,
                  const std::string& source);

// Writes the identity file beside the package; raises the file error.
void rememberDownload(const std::string& package, const DownloadIdentity& identity,
                      const std::string& source);
// Removes it; raises the file error (a missing file is no error).
void forgetDownload(const std::string& package, const std::string& source);

} // namespace updater
