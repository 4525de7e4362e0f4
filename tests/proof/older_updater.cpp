// Going back to an older updater: a release carries the updater of an
// earlier commit, one that reads only the first journal format, and this
// updater installs it, killed with SIGKILL at every file call of its
// instruction stage, its journal, its commit and its end. After each kill
// the updater the kill left in the installation is started as the user's
// next start would start it (the real program, offscreen), and must finish
// the installation: wholly old (with this updater) or wholly new (with the
// older one), nothing stray, no journal left. An older updater that meets a
// journal it cannot read says so at every start and never finishes it.
//
//   older_updater OLDER_UPDATER   (tests/proof/older_updater.sh builds it)
//
// Prints how many kills each updater finished and every failing point;
// exit status 0 when every one ended whole.

#include "KillInstallation.h"
#include "KillPoints.h"
#include "KillSeries.h"

#include "testsupport/ChildProcess.h"
#include "testsupport/LoopbackPublisher.h"
#include "testsupport/PackageBuilder.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

namespace fs = std::filesystem;
using killproof::Whole;
using testsupport::readFile;

namespace {

// A small installation whose release brings the older updater, listed in
// the middle of the instruction file as a sorted release lists it.
killproof::Installation layoutWith(const std::string& olderUpdater,
                                   const testsupport::TempDir& scratch) {
    killproof::Installation layout;
    testsupport::writeVersionedExecutable(scratch / "old.exe", "1.2.0.5");
    testsupport::writeVersionedExecutable(scratch / "new.exe", "1.3.0.0");
    layout.files.push_back({"morvane.exe", "bin/morvane.exe", readFile(scratch / "old.exe"),
                            readFile(scratch / "new.exe"), 0755});
    for (const char* name : {"a.dll", "b.dll", "updater", "x.dll", "y.dll"}) {
        const std::string file = name;
        if (file == "updater") {
            layout.files.push_back(
                {file, "bin/updater", readFile(CURRENT_UPDATER), readFile(olderUpdater), 0755});
        } else {
            layout.files.push_back({file, "lib/" + file, "old " + file, "new " + file, 0644});
        }
        layout.instructions += "MOVE;" + file + ";APP_PATH\r\n";
    }
    layout.instructions = "MOVE;morvane.exe;APP_PATH\r\n" + layout.instructions;
    return layout;
}

std::size_t logRecords(const std::string& folder) {
    const std::string log = folder + "/NoteError.txt";
    if (!fs::exists(log)) {
        return 0;
    }
    const std::string text = readFile(log);
    std::size_t records = 0;
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) {
        ++records;
    }
    return records;
}

// Starts the updater that lies in the installation and waits until it has
// logged what it did about the journal (it finishes a journal before its
// version check, which then waits on a box no one answers); false when it
// said nothing in time.
bool startInstalled(const std::string& folder, const std::string& output) {
    const std::size_t before = logRecords(folder);
    testsupport::ChildProcess updater({folder + "/updater"}, output);
    for (int i = 0; i < 3000; ++i) {
        if (logRecords(folder) > before) {
            return true;
        }
        if (!updater.running()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return logRecords(folder) > before;
}

struct Tally {
    int tried = 0;
    int failed = 0;
    std::map<std::string, int> finishedBy; // "this updater", "the older updater", "nothing to do"
};

void killAt(const killproof::Installation& layout, const killproof::Child& child,
            const std::string& folder, const killproof::KillPoint& point,
            const std::string& olderBytes, Tally& tally) {
    killproof::installOld(layout, folder);
    ++tally.tried;
    killproof::runChild(child, folder, point.mode);
    std::string by = "nothing to do";
    bool said = true;
    if (fs::exists(folder + "/.updater-journal")) {
        by = readFile(folder + "/updater") == olderBytes ? "the older updater" : "this updater";
        said = startInstalled(folder, fs::path(child.output).parent_path() / "updater.out");
    }
    const killproof::Verdict verdict = killproof::inspect(layout, folder);
    if (!said || verdict.whole == Whole::neither || verdict.journal || !verdict.torn.empty() ||
        !verdict.stray.empty()) {
        ++tally.failed;
        std::printf(
            "kill at %s, finished by %s: %s%s%s, %zu torn, %zu stray\n%s", point.where.c_str(),
            by.c_str(), said ? "" : "no word from it; ",
            verdict.whole == Whole::neither ? "neither old nor new" : "whole",
            verdict.journal ? ", its journal left" : "", verdict.torn.size(), verdict.stray.size(),
            fs::exists(folder + "/NoteError.txt") ? readFile(folder + "/NoteError.txt").c_str()
                                                  : "");
        return;
    }
    tally.finishedBy[by]++;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OLDER_UPDATER\n", argv[0]);
        return 2;
    }
    // The real program's window, offscreen, as it would open on a desktop.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testsupport::TempDir scratch;
    const killproof::Installation layout = layoutWith(argv[1], scratch);
    std::vector<testsupport::PackageEntry> entries = {{"updater.ini", layout.instructions}};
    for (const killproof::InstalledFile& file : layout.files) {
        entries.push_back({file.packageName, file.after});
    }
    testsupport::buildPackage(scratch / "package.zip", entries);
    testsupport::LoopbackPublisher publisher("1.3.0\r\n", scratch / "package.zip");
    const killproof::Child child{KILL_ANYWHERE_CHILD, publisher.host(), UNZIP32_FOLDER, "",
                                 scratch / "child-output.txt"};
    const std::string folder = scratch / "Morvane";

    killproof::installOld(layout, folder);
    const int status = killproof::runChild(child, folder, {"count"});
    if (status != 0 || killproof::inspect(layout, folder).whole != Whole::whollyNew) {
        std::printf("the update without a kill did not land (status %d):\n%s\n", status,
                    readFile(child.output).c_str());
        return 1;
    }
    const killproof::Calibration calibration = killproof::calibrate(readFile(child.output));
    const std::string olderBytes = readFile(argv[1]);
    Tally tally;
    for (const char* kind : {"instructions", "journal", "commit", "end"}) {
        const auto calls = calibration.calls.find(kind);
        for (const killproof::Moment& moment :
             calls == calibration.calls.end() ? std::vector<killproof::Moment>{} : calls->second) {
            const std::string where =
                std::string(kind) + " @" + moment.first + " " + std::to_string(moment.second);
            killAt(layout, child, folder,
                   {{"in", moment.first, std::to_string(moment.second)}, kind, where}, olderBytes,
                   tally);
        }
    }
    std::printf("going back to an older updater: %d kills, %d not finished whole;", tally.tried,
                tally.failed);
    for (const auto& [by, count] : tally.finishedBy) {
        std::printf(" %d finished by %s;", count, by.c_str());
    }
    std::printf("\n");
    return tally.failed == 0 && tally.finishedBy["the older updater"] > 0 ? 0 : 1;
}
