#include "publisher/Publication.h"

#include "InstructionLines.h"
#include "Package.h"
#include "Release.h"
#include "ReleaseChecks.h"
#include "ReleaseManifest.h"
#include "ReleaseNotes.h"
#include "RunLeftovers.h"
#include "ServedFolder.h"
#include "ServedKeys.h"
#include "ServedRelease.h"
#include "ServedTime.h"
#include "ServerSettings.h"
#include "StagingFolder.h"
#include "VersionAnswer.h"
#include "codemodule/LibraryBoundary.h"
#include "delta/ChunkMap.h"
#include "delta/Manifest.h"
#include "platform/console/ConsoleToolkit.h"
#include "publisher/PublishError.h"
#include "signature/PackageCheck.h"
#include "signature/PackageSigning.h"
#include "signature/SignatureError.h"
#include "signature/VersionText.h"

#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "platform/Error.h"

#include <ctime>
#include <filesystem>
#include <optional>

namespace publisher {

namespace fs = std::filesystem;

namespace {

const char* const packageName = servedPackageName;
const char* const versionName = servedVersionName;

// The boxes the libraries' callbacks could show have no user to answer them.
void refuseUnansweredQuestions(const platform::ConsoleToolkit& toolkit) {
    if (!toolkit.unansweredQuestions().empty()) {
        throw PublishError("a library asked a question no one is here to answer: " +
                           toolkit.unansweredQuestions().front());
    }
}

// Both libraries must be there before anything is made: the zip call skips
// a library it cannot load and says nothing of it.
void requireLibraries() {
    for (const char* name : {"zip32", "unzip32"}) {
        try {
            CodeModule::loadLibrary(name, "morvane-publish");
        } catch (const platform::Error& failure) {
            throw PublishError("cannot load the " + std::string(name) +
                               " library, which lies beside the tool: " + failure.description());
        }
    }
}

void putInPlace(const std::string& from, const std::string& to, bool packageServed) {
    std::error_code failure;
    fs::rename(from, to, failure);
    if (failure) {
        throw PublishError("cannot put " + to + " in place: " + failure.message(), packageServed);
    }
}

std::optional<signature::SigningKey> signingKeyOf(const std::string& privateKeyFile) {
    if (privateKeyFile.empty()) {
        return std::nullopt;
    }
    try {
        return signature::SigningKey::fromFile(privateKeyFile);
    } catch (const signature::SignatureError& failure) {
        throw PublishError(failure.what());
    }
}

// Signs the package and checks it the way an updater built with the key
// will, so that no package is served that such an updater refuses.
void signAndCheck(const std::string& package, const signature::SigningKey& key,
                  const std::string& version, std::ostream& report) {
    try {
        signature::signPackage(package, key, version);
        const signature::PackageCheck check =
            signature::checkPackage(package, key.publicKey(), version);
        if (!check.accepted()) {
            throw PublishError("the signed package does not pass the updater's check: " +
                               check.description);
        }
    } catch (const signature::SignatureError& failure) {
        throw PublishError(std::string("cannot sign the package: ") + failure.what());
    }
    report << "package signed for version " << version << " by the key "
           << signature::base64Of(key.publicKey()) << '\n';
}

signature::PackageIdentity identityOf(const std::string& package) {
    try {
        return signature::identifyPackage(package);
    } catch (const signature::SignatureError& failure) {
        throw PublishError(failure.what());
    }
}

void reportRelease(const Release& release, std::ostream& report) {
    report << "release " << release.root << ":\n";
    for (const ReleaseFile& file : release.files) {
        report << "  " << file.path << "  " << file.size << " bytes"
               << (file.executable ? "  (executable)" : "") << '\n';
    }
}

void reportLeftovers(const StagingFolder& staging, std::ostream& report) {
    for (const std::string& line : staging.leftovers()) {
        report << line << '\n';
    }
}

// The release read, and everything checked that can be refused before
// anything is made.
Release checkedRelease(const PublishRequest& request,
                       const std::optional<signature::PublicKey>& key, std::ostream& report) {
    requireLibraries();
    Release release = readRelease(request.releaseFolder, request.chunkedFrom);
    reportRelease(release, report);
    noteOverlookedEntries(release, report);
    checkApplicationVersion(release, request.version, report);
    checkOwnInstructions(release, report);
    checkAgainstServed(servedFolderOf(request.outputFolder), request, key, report);
    return release;
}

// The instruction file written for a release that brings none, in
// writtenFolder; that folder, or the empty text.
std::string writeInstructions(const Release& release, const std::string& writtenFolder,
                              std::ostream& report) {
    if (release.hasInstructionFile) {
        report << "updater.ini: the release's own\n";
        return {};
    }
    const auto lines = instructionLines(release);
    writeNewFile(writtenFolder + "/" + instructionFileName, instructionFileText(lines));
    report << "updater.ini written for the release:\n";
    for (const std::string& line : lines) {
        report << "  " << line << '\n';
    }
    return writtenFolder;
}

// The package's chunk map, when the zip library wrote chunks, and its
// manifest, listing the chunk map too, into folder, once the release's
// files are packed.
void writeManifest(const Release& release, const std::string& writtenFolder,
                   const std::string& folder, const std::vector<WrittenChunk>& written,
                   std::ostream& report) {
    std::vector<delta::ChunkedEntry> cut;
    delta::PackageManifest manifest = releaseManifest(release, writtenFolder, &cut);
    const delta::ChunkMap map = chunkMapOf(std::move(cut), written);
    if (!map.entries.empty()) {
        const std::string name(delta::chunkMapEntryName);
        const std::string text = delta::formatChunkMap(map);
        writeNewFile(folder + "/" + name, text);
        const auto mode = fs::status(folder + "/" + name).permissions() & fs::perms::mask;
        manifest.entries.push_back(
            {name, name, text.size(), static_cast<std::uint16_t>(mode), delta::sha256Of(text)});
        report << name << ": " << map.entries.size() << " files of at least " << release.chunkedFrom
               << " bytes in " << written.size() << " chunks that an update fetches apart\n";
    }
    writeNewFile(folder + "/" + std::string(delta::manifestEntryName),
                 delta::formatManifest(manifest));
    report << delta::manifestEntryName << ": " << manifest.entries.size()
           << " files with their SHA-256, last in the package\n";
}

// A lifetime outside the settings' range would let caches keep an earlier
// answer too long, or not at all.
void requireAnswerLifetime(int seconds) {
    if (seconds < 1 || seconds > maxAnswerLifetime) {
        throw PublishError("the version answer's lifetime in caches must be 1 to " +
                           std::to_string(maxAnswerLifetime) + " seconds, not " +
                           std::to_string(seconds));
    }
}

void reportPublished(const PublishRequest& request, const std::string& served,
                     std::ostream& report) {
    report << "package tested: every file unpacks as it is in the release, and the manifest "
              "describes every entry\n"
           << "published " << served << "/" << packageName << "  "
           << fs::file_size(served + "/" + packageName) << " bytes\n"
           << "published " << served << "/" << versionName << "  " << request.version << '\n'
           << "wrote the web servers' and caches' settings for these files into "
           << serverSettingsFolderOf(request.outputFolder) << " (caches keep the version answer "
           << request.answerLifetime << " s at most)\n";
}

} // namespace

void publish(const PublishRequest& request, platform::ConsoleToolkit& toolkit,
             std::ostream& report) {
    if (!signature::isVersionText(request.version)) {
        throw PublishError("the version must be three numbers separated by dots, such as 1.3.0, "
                           "not \"" +
                           request.version + "\"");
    }
    requireAnswerLifetime(request.answerLifetime);
    const auto signingKey = signingKeyOf(request.privateKeyFile);
    if (signingKey) {
        requireValidDays(request.validDays);
    }
    const Release release = checkedRelease(
        request, signingKey ? std::optional(signingKey->publicKey()) : std::nullopt, report);

    ServedFolder servedFolder(request.outputFolder, release.root);
    const std::string& served = servedFolder.path();
    const StagingFolder staging(served);
    reportLeftovers(staging, report);
    // What the tool writes for the package, in one folder: the package ends
    // with it.
    const std::string trailer = staging / "trailer";
    fs::create_directory(trailer);
    const std::string writtenFolder = writeInstructions(release, trailer, report);
    const std::string package = staging / packageName;
    const auto written = buildPackage(release, package);
    writeManifest(release, writtenFolder, trailer, written, report);
    const PackageFolders folders{trailer, writtenFolder};
    finishPackage(folders, package);
    refuseUnansweredQuestions(toolkit);
    if (request.packed) {
        request.packed();
    }
    if (signingKey) {
        signAndCheck(package, *signingKey, request.version, report);
    } else {
        report << "package not signed: an updater built with a publisher's key refuses it\n";
    }
    checkPackage(release, folders, package, staging / "check");
    refuseUnansweredQuestions(toolkit);
    std::string answer = request.version;
    if (signingKey) {
        answer =
            signedVersionAnswer(request.version, identityOf(package),
                                request.manifestInAnswer ? manifestDigestOf(package) : std::nullopt,
                                *signingKey, request.validDays, std::time(nullptr),
                                withServedKeysLine(served, signingKey->publicKey(), {}));
        report << "version answer signed for this package, valid for " << request.validDays
               << " days (renew it before then with --renew)\n";
    }
    writeNewFile(staging / versionName, answer);

    // The package first: a version that is served always points at a package
    // at least as new.
    {
        RunLeftovers::Held commit = RunLeftovers::instance().hold();
        // Before anything served changes: settings that cannot be written
        // refuse the publication.
        writeServerSettings(request.outputFolder, request.answerLifetime);
        laterThanServed(package, served + "/" + packageName);
        laterThanServed(staging / versionName, served + "/" + versionName);
        putInPlace(package, served + "/" + packageName, false);
        putInPlace(staging / versionName, served + "/" + versionName, true);
        commit.done("published");
    }
    servedFolder.keep();
    reportPublished(request, served, report);
}

void renew(const RenewRequest& request, std::ostream& report) {
    const auto signingKey = signingKeyOf(request.privateKeyFile);
    if (!signingKey) {
        throw PublishError("renewing the version answer needs the publisher's key (--key)");
    }
    requireValidDays(request.validDays);
    if (!signature::isVersionText(request.version)) {
        throw PublishError("the version must be three numbers separated by dots, such as 1.3.0, "
                           "not \"" +
                           request.version + "\"");
    }
    const fs::path served = servedFolderOf(request.outputFolder);
    const std::string answerPath = (served / versionName).string();
    std::string answer;
    if (const int failure = fileio::readWholeFile(answerPath, answer); failure != 0) {
        throw PublishError("cannot read the served version answer " + answerPath + ": " +
                           fileio::systemReason(failure));
    }
    // Expiry aside, the answer must be one this key signed: a renewal never
    // vouches for what it did not publish.
    const signature::AnswerCheck check =
        signature::checkVersionAnswer(answer, signingKey->publicKey(), 0);
    if (!check.verified()) {
        throw PublishError("the served version answer is not one this key signed: " +
                           check.description);
    }
    // A served folder restored from an older backup must not have its
    // release vouched for again.
    if (!signature::sameVersion(check.release->version, request.version)) {
        throw PublishError(
            "the served answer names " + check.release->version + ", not " + request.version +
            " (a served folder restored from an older backup?); renewing it "
            "would let " +
            check.release->version + " be served for another " + std::to_string(request.validDays) +
            " days. Publish " + request.version + " again, or name the version meant to be served");
    }
    const signature::PackageIdentity package = identityOf((served / packageName).string());
    if (package.size != check.release->size || package.sha512 != check.release->sha512) {
        throw PublishError("the served package is not the one the version answer announces; "
                           "publish the release again");
    }
    const StagingFolder staging(fs::canonical(served).string());
    reportLeftovers(staging, report);
    // The package's manifest is vouched for again when the answer named
    // one: an answer published for older updaters stays readable to them.
    const std::string packagePath = (served / packageName).string();
    writeNewFile(
        staging / versionName,
        signedVersionAnswer(check.release->version, package,
                            check.release->manifest ? manifestDigestOf(packagePath) : std::nullopt,
                            *signingKey, request.validDays, std::time(nullptr),
                            withServedKeysLine(served.string(), signingKey->publicKey(),
                                               check.release->laterFields)));
    {
        RunLeftovers::Held commit = RunLeftovers::instance().hold();
        putInPlace(staging / versionName, answerPath, false);
        commit.done("renewed");
    }
    report << "renewed " << answerPath << ": version " << check.release->version << ", valid for "
           << request.validDays << " days\n";
}

} // namespace publisher
