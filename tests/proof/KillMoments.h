#pragma once

#include "platform/toolkit/Toolkit.h"

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <string>

// The moments of one update run a kill can fall on (every pump of the
// window and every write, sync, close, link, rename, removal and new folder
// of the program), each in the phase of the run it belongs to. The phase is
// the stage the status line names, and within the download the step of the
// changed-files update the files it touches show: the package's tail comes
// first (nothing written), then the manifest is written, installed files
// are read, then linked or copied into temp, then the large file named
// chunkedName is rebuilt from its chunks (taken from the installed file,
// fetched and inflated), then the gathered entries are written to the
// small archive; emptying temp there means the whole package comes after
// all. (A keyed run here is always offered a manifest, so its download
// begins with the tail.)
//
// A kill is aimed at the K-th moment of a phase; should the run leave that
// phase with fewer moments, it falls on the first moment after it. Either
// way the child says where it fell ("killed PHASE K") before it dies.
class KillMoments {
public:
    enum class Mode { count, in, unzipDelay, run, recover };
    struct Aim {
        Mode mode = Mode::run;
        std::string phase; // for Mode::in
        long value = 0;    // the moment in the phase, or the delay in microseconds
    };

    KillMoments(Aim aim, platform::UpdaterControls& controls, std::string tempFolder, bool keyed);

    // A moment: a pump (no path), or a call on a file or on names.
    void pass(const char* call, int fd, const char* path = nullptr, const char* other = nullptr);
    // An open: not a moment, but it shows the download's step.
    void opened(const char* path, int flags);

    // For a counting run: "phase NAME COUNT" per phase, "unzip-us MICROS";
    // for every run: "way changed-files|whole-package|none".
    void report() const;

private:
    void follow(const std::string& stage);
    void advance(const char* step);
    bool inTemp(const std::string& path) const;

    Aim m_aim;
    platform::UpdaterControls& m_controls;
    std::string m_temp;
    bool m_keyed;
    std::string m_stage = "version-check";
    // The phase now; read by the timed kill's thread.
    std::atomic<const char*> m_phase;
    std::map<std::string, long> m_moments;
    std::set<std::string> m_visited;
    bool m_aimedLeft = false;
    std::chrono::steady_clock::time_point m_unzipStart;
    long m_unzipMicros = 0;
};
