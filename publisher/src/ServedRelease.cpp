#include "ServedRelease.h"

#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "publisher/PublishError.h"
#include "signature/ReleaseLine.h"
#include "text/Utf8.h"
#include "text/VersionPieces.h"

#include <cerrno>

namespace publisher {

namespace {

// The key that signed the answer's release line, when it has one that reads.
std::optional<signature::PublicKey> signerOf(std::string_view answer) {
    const std::size_t lineEnd = answer.find('\n');
    if (lineEnd == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view line = answer.substr(lineEnd + 1);
    line = line.substr(0, line.find_first_of("\r\n"));
    std::string why;
    const auto release = signature::parseReleaseLine(line, why);
    return release ? std::optional(release->key) : std::nullopt;
}

// What keyed updaters do with a release signed by another key than the
// served one, or not signed where it is: refused unless replaceKey, noted
// when it is meant.
void checkSigner(const std::string& answer, const std::optional<signature::PublicKey>& key,
                 bool replaceKey, std::ostream& report) {
    const auto signer = signerOf(answer);
    if (!signer || (key && *signer == *key)) {
        return;
    }
    const std::string served = signature::base64Of(*signer);
    const std::string change =
        key ? "is signed by another key (" + served + ") than this one (" +
                  signature::base64Of(*key) +
                  "): updaters built with that key refuse this release and report the server "
                  "unreachable until they have installed an updater built with this key"
            : "is signed (by the key " + served +
                  ") and this one is not: updaters built with a key refuse it and report the "
                  "server unreachable";
    if (!replaceKey) {
        throw PublishError("the served release " + change +
                           ". To replace the served key on purpose (a new key, or none), give "
                           "--replace-key");
    }
    report << "note: the served release " << change << " (--replace-key)\n";
}

} // namespace

void checkAgainstServed(const std::string& servedFolder, const PublishRequest& request,
                        const std::optional<signature::PublicKey>& key, std::ostream& report) {
    const std::string& version = request.version;
    const std::string path = servedFolder + "/version.php";
    std::string answer;
    if (const int failure = fileio::readWholeFile(path, answer); failure != 0) {
        if (failure == ENOENT || failure == ENOTDIR) {
            return; // nothing served yet
        }
        throw PublishError("cannot read the served version answer " + path + ": " +
                           fileio::systemReason(failure));
    }
    // The numbers the updater reads are on the first line.
    const std::string_view firstLine = text::withoutByteOrderMark(answer).substr(
        0, text::withoutByteOrderMark(answer).find_first_of("\r\n"));
    const text::VersionPieces served = text::versionPieces(firstLine);
    const std::string servedText(firstLine);
    if (!served[0].empty() &&
        text::versionValues(served) > text::versionValues(text::versionPieces(version))) {
        if (!request.replaceNewer) {
            throw PublishError(
                "the served answer names " + servedText + ", a newer version than " + version +
                ": installations that have " + servedText + " would not be offered " + version +
                ", and those that have not updated yet would install " + version + " in place of " +
                servedText + ". To replace the newer release on purpose, give --replace-newer");
        }
        report << "note: " << version << " replaces the newer " << servedText
               << " (--replace-newer): installations that have " << servedText << " keep it\n";
    }
    checkSigner(answer, key, request.replaceKey, report);
}

} // namespace publisher
