// Kill anywhere: runs the real update of an installation against a
// publisher on loopback and kills the updater with SIGKILL at points spread
// over the run, in two families:
//
// - the whole package: 56 files, every one changed, from a loopback
//   publisher: the version check, the download, the unpacking, every line of
//   the instruction file, the journal's writes, the commit, the end;
// - the changed files: a keyed updater, a release published with its
//   manifest and served by nginx, an installation that holds most of it
//   (morvane.exe and 6 of 50 libraries changed, one of them of 3 MiB in
//   three places, 2 plugins new in a folder the package makes): while the
//   package's tail, the manifest and the gathered entries arrive, while
//   installed files are read and linked or copied into temp, while the
//   large file's chunks are taken, fetched and inflated, while the small
//   archive unpacks, then through the instruction file, the journal, the
//   commit and the end.
//
// Each family has a second series whose package's last line fails, killed
// inside its instruction file, its journal and, most, its rollback. After
// each kill it checks that every installed file is wholly old or wholly new
// (and keeps its mode) and that nothing but the installation's own files, the journal and a
// copy's temporary name (left by a kill in the instant between naming the
// content and renaming it into place) lies outside the temp folder; then it
// copies the installation with its journal to another folder and starts the
// updater's recovery there, which must leave the copy whole and the
// original as it was; then it starts the updater's recovery in place, as
// the next start does before its version check, and checks that the
// installation is wholly old or wholly new (as the copy) with nothing stray
// and no journal left; then it runs the updater again, which must end
// wholly new (wholly old for the failing package) and, on the changed-files
// family, have fetched only the changed files whenever it had an update to
// make.
//
//   kill_anywhere [POINTS [FAMILY...]]   (default 300 per family, two
//                                         thirds for the update, one third
//                                         for the failing package; FAMILY
//                                         whole-package or changed-files,
//                                         default both)
//
// Prints per series: points by the kind they were aimed at and by where the
// kill fell, how the run after the recovery got the release, torn files,
// torn installations, stray files, recoveries, and each failing point. Exit
// status 0 when nothing is torn or stray, every recovery completed, and
// every update after a recovery to old came the way of its family.

#include "KillSeries.h"

#include "testsupport/LoopbackPublisher.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PackageBuilder.h"
#include "testsupport/PublishedRelease.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/TempDir.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <utility>

namespace fs = std::filesystem;
using killproof::Whole;

namespace {

// A last line the publisher cannot see failing: its source is in the package,
// its destination a file where a folder should be.
const std::string failingLine = "MOVE;lib1.dat;APP_PATH\\lib0.dat\r\n";

using PointSet =
    std::function<std::vector<killproof::KillPoint>(const killproof::Calibration&, int)>;

// One series: the installation, the child aimed at its publisher, the
// points and what the last run must leave.
struct Series {
    std::string name;
    const killproof::Installation& layout;
    killproof::Child child;
    PointSet points;
    int share;
    Whole end;
    std::string way; // how an update from the old installation must come
};

// A family: its update's points, and the way an update must come.
struct Family {
    std::string name;
    PointSet updatePoints;
    std::string way;
};

// The family's update (two thirds of the points) or its package whose last
// line fails.
Series seriesOf(const Family& family, bool failing, const killproof::Installation& layout,
                killproof::Child child, int total) {
    return {family.name + (failing ? ", last line failing" : ""),
            layout,
            std::move(child),
            failing ? PointSet(killproof::failingPoints) : family.updatePoints,
            failing ? total - total * 2 / 3 : total * 2 / 3,
            failing ? Whole::old : Whole::whollyNew,
            family.way};
}

// Calibrates, checks that the run without a kill ends as it should and
// comes the series' way, then kills at every point.
bool runSeries(const Series& series, const std::string& folder) {
    const auto started = std::chrono::steady_clock::now();
    killproof::installOld(series.layout, folder);
    const int status = killproof::runChild(series.child, folder, {"count"});
    const std::string counted = testsupport::readFile(series.child.output);
    if ((status != 0 && status != 4) ||
        killproof::inspect(series.layout, folder).whole != series.end ||
        counted.find("way " + series.way) == std::string::npos) {
        std::printf("%s without a kill did not end as it should (status %d):\n%s\n",
                    series.name.c_str(), status, counted.c_str());
        return false;
    }
    const killproof::Calibration calibration = killproof::calibrate(counted);
    std::printf("%s: moments of the run without a kill:", series.name.c_str());
    for (const auto& [phase, moments] : calibration.phases) {
        std::printf(" %s %ld;", phase.c_str(), moments);
    }
    std::printf(" unpacking %ld us\n", calibration.unzipMicros);
    killproof::Tally tally;
    killproof::killSeries(series.layout, series.child, folder, calibration,
                          series.points(calibration, series.share), series.end, tally);
    tally.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    tally.print(series.name);
    for (const auto& [way, count] : tally.rerunWays) {
        if (way.starts_with("from old: ") && way != "from old: " + series.way) {
            std::printf("  %d updates after a recovery came otherwise than by %s\n", count,
                        series.way.c_str());
            return false;
        }
    }
    return tally.clean();
}

killproof::Child childFor(const std::string& program, const std::string& host,
                          const std::string& key, const testsupport::TempDir& scratch) {
    return {fs::path(program).parent_path() / "kill_anywhere_child", host, UNZIP32_FOLDER, key,
            scratch / "child-output.txt"};
}

bool wholePackageFamily(const std::string& program, int total) {
    testsupport::TempDir scratch;
    const killproof::Installation layout = killproof::wholePackageLayout(scratch);
    bool clean = true;
    for (const bool failing : {false, true}) {
        std::vector<testsupport::PackageEntry> entries = {
            {"updater.ini", layout.instructions + (failing ? failingLine : "")}};
        for (const killproof::InstalledFile& file : layout.files) {
            entries.push_back({file.packageName, file.after});
        }
        testsupport::buildPackage(scratch / "package.zip", entries);
        testsupport::LoopbackPublisher publisher("1.3.0\r\n", scratch / "package.zip");
        const Family family{"whole package", killproof::wholePackagePoints, "whole-package"};
        const Series series = seriesOf(family, failing, layout,
                                       childFor(program, publisher.host(), "", scratch), total);
        clean = runSeries(series, scratch / "Morvane") && clean;
    }
    return clean;
}

// The requests nginx answered for the whole package (a range with no end)
// among those for a part of it.
void printPackageRequests(const std::string& accessLog) {
    static const std::regex whole(R"re("bytes=\d+-")re");
    static const std::regex part(R"re("bytes=\d+-\d+")re");
    const auto count = [&](const std::regex& pattern) {
        return std::distance(std::sregex_iterator(accessLog.begin(), accessLog.end(), pattern),
                             std::sregex_iterator());
    };
    std::printf("  nginx answered %ld requests for parts of the package, %ld for all of it\n",
                count(part), count(whole));
}

bool changedFilesFamily(const std::string& program, int total) {
    testsupport::TempDir scratch;
    const killproof::Installation layout = killproof::changedFilesLayout(scratch);
    const testsupport::PublisherKey key = testsupport::makePublisherKey(scratch / "key.pem");
    bool clean = true;
    for (const bool failing : {false, true}) {
        const std::string web = scratch / (failing ? "web-failing" : "web");
        killproof::writeRelease(layout, scratch / "release", failing ? failingLine : "");
        testsupport::publishRelease(MORVANE_PUBLISH, key, scratch / "release", "1.3.0", web);
        testsupport::NginxServer nginx(web);
        const Family family{"changed files", killproof::changedFilesPoints, "changed-files"};
        const Series series =
            seriesOf(family, failing, layout,
                     childFor(program, nginx.host(), key.publicKeyBase64, scratch), total);
        clean = runSeries(series, scratch / "Morvane") && clean;
        nginx.stop();
        printPackageRequests(nginx.accessLog());
    }
    return clean;
}

} // namespace

int main(int argc, char** argv) {
    const int total = argc > 1 ? std::atoi(argv[1]) : 300;
    std::set<std::string> families(argv + std::min(argc, 2), argv + argc);
    if (families.empty()) {
        families = {"whole-package", "changed-files"};
    }
    bool clean = true;
    if (families.contains("whole-package")) {
        clean = wholePackageFamily(argv[0], total) && clean;
    }
    if (families.contains("changed-files")) {
        clean = changedFilesFamily(argv[0], total) && clean;
    }
    return clean ? 0 : 1;
}
