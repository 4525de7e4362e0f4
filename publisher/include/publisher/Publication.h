#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace platform {
class ConsoleToolkit;
}

namespace publisher {

// How long a signed version answer is valid unless the publisher says.
constexpr int defaultValidDays = 30;
// The seconds a cache may keep the version answer, by the server settings
// written beside the served files: at most a minute, so that a release
// reaches every installation within one.
constexpr int defaultAnswerLifetime = 60;
constexpr int maxAnswerLifetime = 60;

// What the publisher asks for: a release folder, the version it carries,
// the folder the web server serves and, to sign the package and the
// version answer, the file of the publisher's Ed25519 private key (empty:
// nothing is signed), with the days the signed answer stays valid.
// A file this large is worth fetching in parts: a chunk map line costs
// less than a thousandth of it.
inline constexpr std::uint64_t defaultChunkedFrom = 1 << 20;

struct PublishRequest {
    std::string releaseFolder;
    std::string version;
    std::string outputFolder;
    std::string privateKeyFile;
    int validDays = defaultValidDays;
    // Whether the signed release line names the package's manifest. Updaters
    // built before they could fetch only the files they lack refuse a line
    // that does; without it every updater downloads whole packages.
    bool manifestInAnswer = true;
    // Called once the package is built and before it is tested against the
    // release folder: where a test changes the release as if while it is
    // packed. The tool leaves it empty.
    std::function<void()> packed;
    // Whether a version older than the one served may replace it.
    bool replaceNewer = false;
    // Files of at least this many bytes are deflated in chunks that an
    // update fetches one by one; 0: none is.
    std::uint64_t chunkedFrom = defaultChunkedFrom;
    // The seconds the server settings let a cache keep the version answer,
    // 1 to maxAnswerLifetime.
    int answerLifetime = defaultAnswerLifetime;
    // Whether a release signed by another key than the served one, or not
    // signed where the served one is, may replace it: updaters built with
    // the served one's key refuse it.
    bool replaceKey = false;
};

// A served, signed version answer to sign again for another validDays,
// when it names the version the publisher expects to be served.
struct RenewRequest {
    std::string outputFolder;
    std::string version;
    std::string privateKeyFile;
    int validDays = defaultValidDays;
};

// Publishes a release: checks it against the version published (the
// version of its morvane.exe, the files its own updater.ini moves) and
// against what is served now (an older version is refused unless
// replaceNewer, a signed one replaced by another key or unsigned unless
// replaceKey), names what it ships that a publisher may not have meant to
// (hidden files, empty folders), builds clientfiles/morvane/morvane.zip under the
// output folder (its chunk map and manifest last, stored, and an updater.ini written for
// the release when it brings none), signs it when a key is given and checks the signature as the
// updater will, tests it through the unzip library the updater uses, and
// only then replaces the served package and, after it,
// clientfiles/morvane/version.php: the version, and with a key a CR LF and
// the signed release line that binds the answer to this package, and its
// manifest, until it expires. Just before the package, the settings each
// web server and cache needs to serve the two files (the answer kept at
// most answerLifetime seconds, the package checked before each use, byte
// ranges on, no compression) are written into OUTPUT_FOLDER/server-settings.
// Staging folders that earlier runs, stopped part way, left in the served
// folder are removed (never one of a run still going). Reports what it did
// on report. Anything wrong is raised as PublishError, and then the served
// files are as they were.
void publish(const PublishRequest& request, platform::ConsoleToolkit& toolkit,
             std::ostream& report);

// Signs the served version answer again, valid for the request's days from
// now, when this key signed it, it names the request's version and the
// served package is still the one it announces, with the SHA-256 of the manifest the package
// carries when the served answer named one; the package is not touched. PublishError otherwise, and
// then the served answer is as it was.
void renew(const RenewRequest& request, std::ostream& report);

} // namespace publisher
