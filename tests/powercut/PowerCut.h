#pragma once

#include "DurableDisk.h"
#include "fixtures/EndToEndFixture.h"
#include "testsupport/TreeSnapshot.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// How the recoveries of the disks a series' cuts left ended.
struct Endings {
    std::size_t old = 0;
    std::size_t whollyNew = 0;
    std::size_t torn = 0;
};

struct Figures {
    std::size_t cuts = 0;
    std::size_t states = 0;
    Endings inPlace;
    // The installation copied to another folder after the cut and recovered
    // there.
    Endings copied;
    // Cuts whose copy's recovery changed anything of the original.
    std::size_t originalsChanged = 0;
    // The cuts before the instruction stage began (in place), when the
    // recording began earlier.
    Endings beforeInstructions;
    std::vector<std::string> failures;
};

// The real update through the window, its calls through the file seam
// recorded from a given status line on, and every power cut it could meet
// built and recovered.
class PowerCut : public EndToEndFixture {
protected:
    // Runs the update once, recording from the moment the status line first
    // reads `from` (the instruction stage's by default); the installation as
    // it was before and after.
    void recordRun(const std::string& from = "Procesing Updates");

    // The next start's recovery of the installation at folder; true when it
    // left a whole installation and no journal.
    bool recover(const std::string& folder);

    // Every cut, each followed by the next start's recovery, in a copy of
    // the installation and in place. Cuts between the same two syncs leave
    // the same disk, which is built and recovered once for all of them.
    Figures cutEverywhere(const DurableDisk& recorded);

    // Prints the series' figures and fails the test for every torn disk.
    static void report(const char* series, const Figures& figures);

    testsupport::TreeSnapshot before;
    testsupport::TreeSnapshot after;
    // The installation on disk as the instruction stage began.
    testsupport::TreeSnapshot atInstructions;
    std::optional<DurableDisk> disk;
    // The recorded moment the instruction stage began at, and the calls
    // before it that took an installed file: opened it, or linked it into
    // temp.
    std::size_t instructionsBegin = 0;
    std::size_t installedFilesTaken = 0;

private:
    bool m_instructing = false;
    enum class Ending { old, whollyNew, torn };
    // How the recovery at folder ended for the cuts that left this disk; a
    // torn ending is kept for the report.
    Ending tally(const std::string& folder, bool whole, std::size_t cuts, const std::string& where,
                 Endings& endings, Figures& figures) const;
    void recoverACopy(std::size_t cuts, const std::string& where, Figures& figures);
    // The seam's calls watched by the disk, those that take installed files
    // before the instruction stage counted too.
    fileio::SystemCalls watchedCalls();
};
