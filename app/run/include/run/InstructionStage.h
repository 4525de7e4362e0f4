#pragma once

#include "app/InstallationPaths.h"
#include "app/Outcome.h"
#include "app/StageContext.h"
#include "journal/UpdateJournal.h"
#include "platform/shell/Shell.h"
#include "run/ErrorLog.h"
#include "run/InstructionFile.h"

#include <memory>
#include <string>

namespace updater {

// The instruction file carried out under a journal: every change it makes
// to the installation is recorded first, all of them become final together
// once the last line has run, and a failure puts the installation back
// before it is reported. It reports its own failures in the log (and, for
// the one that stopped it, in a box).
class InstructionStage {
public:
    InstructionStage(const InstallationPaths& paths, StageContext& context, platform::Shell& shell,
                     ErrorLog& log);

    // Carries out the instruction file; the failure it stopped on, which
    // the log and a box have told.
    Outcome<void> apply();
    // One line; every failure is raised to the caller.
    void runLine(const std::string& line);

    // After an apply that went through: the journal's kept files, then the
    // journal itself go. A failure is logged and left to the next start.
    void removeKept();
    void removeJournal();

private:
    // An installation whose disk cannot take the new files fails before
    // the first of them is copied.
    void requireRoom(const std::string& instructions);
    std::string restorationReport(const Restoration& restoration) const;
    void tidy(void (UpdateJournal::*step)());

    const InstallationPaths& m_paths;
    StageContext& m_context;
    ErrorLog& m_log;
    UpdateCommands m_commands;
    // The journal of the last apply.
    std::unique_ptr<UpdateJournal> m_journal;
};

} // namespace updater
