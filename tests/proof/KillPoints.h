#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

// Where the kill harness aims its kills: read from a counting run of the
// child, every phase's moments and every file call of the instruction stage
// by kind; then points spread over them.
namespace killproof {

// A phase's moment, counting from 1.
using Moment = std::pair<std::string, long>;

struct Calibration {
    std::map<std::string, long> phases; // moments per phase
    // The file calls of the instruction stage and after it, by kind:
    // instructions, journal, commit, rollback, end.
    std::map<std::string, std::vector<Moment>> calls;
    long unzipMicros = 0;

    // The kind a moment falls in: in the instruction stage and after it,
    // that of the last file call at or before it; else its phase.
    std::string kindOf(const Moment& moment) const;
};

// Reads what a counting run of the child printed.
Calibration calibrate(const std::string& countingOutput);

struct KillPoint {
    std::vector<std::string> mode; // the child's arguments
    std::string kind;
    std::string where;
};

// The points of the whole package's update: every stage, most inside the
// instruction file where every write, sync, link, rename and close of the
// copies and of the journal lies, every call of the commit, and the end.
std::vector<KillPoint> wholePackagePoints(const Calibration& calibration, int total);

// The points of the changed-files update: its download's every step (the
// tail, the manifest, the installed files read, then linked or copied into
// temp, the large file's chunks taken, fetched and inflated, the gathered
// entries), the small archive's unpacking, and then the
// instruction file, the journal, the commit and the end as above.
std::vector<KillPoint> changedFilesPoints(const Calibration& calibration, int total);

// The points of a package whose last line fails: inside the instruction
// file and its journal, and most inside the rollback.
std::vector<KillPoint> failingPoints(const Calibration& calibration, int total);

} // namespace killproof
