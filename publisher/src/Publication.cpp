#include "publisher/Publication.h"

#include "InstructionLines.h"
#include "Package.h"
#include "Release.h"
#include "ReleaseManifest.h"
#include "StagingFolder.h"
#include "VersionAnswer.h"
#include "delta/Manifest.h"
#include "platform/console/ConsoleToolkit.h"
#include "publisher/PublishError.h"
#include "signature/PackageCheck.h"
#include "signature/PackageSigning.h"
#include "signature/SignatureError.h"
#include "signature/VersionText.h"
#include "text/LetterCase.h"

#include "fileio/Failure.h"
#include "fileio/Reading.h"

#include <ctime>
#include <filesystem>
#include <optional>

namespace publisher {

namespace fs = std::filesystem;

namespace {

const char* const packageName = "morvane.zip";
const char* const versionName = "version.php";
const char* const applicationName = "morvane.exe";

// The boxes the libraries' callbacks could show have no user to answer them.
void refuseUnansweredQuestions(const platform::ConsoleToolkit& toolkit) {
    if (!toolkit.unansweredQuestions().empty()) {
        throw PublishError("a library asked a question no one is here to answer: " +
                           toolkit.unansweredQuestions().front());
    }
}

std::string servedFolderOf(const PublishRequest& request, const std::string& releaseRoot) {
    const fs::path served = fs::path(request.outputFolder) / "clientfiles" / "morvane";
    std::error_code failure;
    fs::create_directories(served, failure);
    if (failure) {
        throw PublishError("cannot write to " + served.string() + ": " + failure.message());
    }
    const std::string canonical = fs::canonical(served).string();
    if ((canonical + "/").rfind(releaseRoot + "/", 0) == 0) {
        throw PublishError("the output folder " + request.outputFolder +
                           " lies inside the release folder; the package would hold itself");
    }
    return canonical;
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
    bool bringsApplication = false;
    for (const ReleaseFile& file : release.files) {
        report << "  " << file.path << "  " << file.size << " bytes"
               << (file.executable ? "  (executable)" : "") << '\n';
        bringsApplication =
            bringsApplication ||
            (file.folder.empty() && text::foldCase(file.name) == text::foldCase(applicationName));
    }
    // The updater reads the installed version from the application: without
    // a new one it offers this update again after installing it.
    if (!bringsApplication) {
        report << "note: the release brings no " << applicationName
               << " at its top, so the installed version stays as it is and the updater "
                  "will offer this update again\n";
    }
}

// The release's own updater.ini must leave the manifest in the temp folder:
// copied into the installation, it would stand there as a file of the
// application's.
void refuseMovingTheManifest(const Release& release) {
    for (const ReleaseFile& file : release.files) {
        if (!file.folder.empty() ||
            text::foldCase(file.name) != text::foldCase(instructionFileName)) {
            continue;
        }
        const fileio::UniqueFd fd = openAsRead(release, file);
        std::string text;
        if (const int failure = fileio::readToEnd(fd.get(), text); failure != 0) {
            throw PublishError("cannot read " + file.path + ": " + fileio::systemReason(failure));
        }
        if (const auto line = lineMovingTheManifest(text)) {
            throw PublishError("the release's " + file.path + " has the line \"" + *line +
                               "\", which would install the package's manifest " +
                               std::string(delta::manifestEntryName) +
                               " as a file of the application; name the files it moves");
        }
    }
}

void reportLeftovers(const StagingFolder& staging, std::ostream& report) {
    for (const std::string& line : staging.leftovers()) {
        report << line << '\n';
    }
}

} // namespace

void publish(const PublishRequest& request, platform::ConsoleToolkit& toolkit,
             std::ostream& report) {
    if (!signature::isVersionText(request.version)) {
        throw PublishError("the version must be three numbers separated by dots, such as 1.3.0, "
                           "not \"" +
                           request.version + "\"");
    }
    const auto signingKey = signingKeyOf(request.privateKeyFile);
    if (signingKey) {
        requireValidDays(request.validDays);
    }
    const Release release = readRelease(request.releaseFolder);
    const std::string served = servedFolderOf(request, release.root);
    reportRelease(release, report);

    const StagingFolder staging(served);
    reportLeftovers(staging, report);
    std::string writtenFolder;
    if (release.hasInstructionFile) {
        refuseMovingTheManifest(release);
        report << "updater.ini: the release's own\n";
    } else {
        const auto lines = instructionLines(release);
        writtenFolder = staging / "instructions";
        fs::create_directory(writtenFolder);
        writeNewFile(writtenFolder + "/" + instructionFileName, instructionFileText(lines));
        report << "updater.ini written for the release:\n";
        for (const std::string& line : lines) {
            report << "  " << line << '\n';
        }
    }

    const std::string manifestFolder = staging / "manifest";
    fs::create_directory(manifestFolder);
    const delta::PackageManifest manifest = releaseManifest(release, writtenFolder);
    writeNewFile(manifestFolder + "/" + std::string(delta::manifestEntryName),
                 delta::formatManifest(manifest));
    report << delta::manifestEntryName << ": " << manifest.entries.size()
           << " files with their SHA-256, first in the package\n";

    const PackageFolders folders{manifestFolder, writtenFolder};
    const std::string package = staging / packageName;
    buildPackage(release, folders, package);
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
                                *signingKey, request.validDays, std::time(nullptr));
        report << "version answer signed for this package, valid for " << request.validDays
               << " days (renew it before then with --renew)\n";
    }
    writeNewFile(staging / versionName, answer);

    // The package first: a version that is served always points at a package
    // at least as new.
    putInPlace(package, served + "/" + packageName, false);
    putInPlace(staging / versionName, served + "/" + versionName, true);
    report << "package tested: every file unpacks as it is in the release, and the manifest "
              "describes every entry\n"
           << "published " << served << "/" << packageName << "  "
           << fs::file_size(served + "/" + packageName) << " bytes\n"
           << "published " << served << "/" << versionName << "  " << request.version << '\n';
}

void renew(const RenewRequest& request, std::ostream& report) {
    const auto signingKey = signingKeyOf(request.privateKeyFile);
    if (!signingKey) {
        throw PublishError("renewing the version answer needs the publisher's key (--key)");
    }
    requireValidDays(request.validDays);
    const fs::path served = fs::path(request.outputFolder) / "clientfiles" / "morvane";
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
        throw PublishError("the served version answer is not one this key signed, so it is not "
                           "renewed: " +
                           check.description);
    }
    const signature::PackageIdentity package = identityOf((served / packageName).string());
    if (package.size != check.release->size || package.sha512 != check.release->sha512) {
        throw PublishError("the served package is not the one the version answer announces, so "
                           "the answer is not renewed; publish the release again");
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
                            check.release->laterFields));
    putInPlace(staging / versionName, answerPath, false);
    report << "renewed " << answerPath << ": version " << check.release->version << ", valid for "
           << request.validDays << " days\n";
}

} // namespace publisher
