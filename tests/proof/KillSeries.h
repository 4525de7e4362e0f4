#pragma once

#include "KillInstallation.h"
#include "KillPoints.h"

#include <map>
#include <string>
#include <vector>

namespace killproof {

// The child program and what it is given besides the installation folder.
struct Child {
    std::string program;
    std::string host;
    std::string libraryFolder;
    std::string key; // empty: the updater built without a key
    std::string output;
};

// Runs the child with the given mode; its exit status, or -SIGNAL.
int runChild(const Child& child, const std::string& folder, const std::vector<std::string>& mode);

struct Tally {
    int tried = 0;
    int tornFiles = 0;
    int tornInstallations = 0;
    int stray = 0;
    int leftovers = 0;
    int toOld = 0;
    int toNew = 0;
    int recovered = 0;
    // The installation copied after the kill and recovered in the copy.
    int copiesToOld = 0;
    int copiesToNew = 0;
    int tornCopies = 0;
    int originalsChanged = 0;
    // Points by the kind they were aimed at, and by where the kill fell
    // ("not killed" when the run ended first).
    std::map<std::string, int> aimed;
    std::map<std::string, int> landed;
    // How the run after each recovery got the release, by what it found:
    // "from old: changed-files", "from new: none", ...
    std::map<std::string, int> rerunWays;
    double seconds = 0;

    bool clean() const;
    void print(const std::string& series) const;
};

// Kills at every point, checks, recovers in a copy and in place, runs
// again; `end` is what the last run must leave.
void killSeries(const Installation& layout, const Child& child, const std::string& folder,
                const Calibration& calibration, const std::vector<KillPoint>& points, Whole end,
                Tally& tally);

} // namespace killproof
