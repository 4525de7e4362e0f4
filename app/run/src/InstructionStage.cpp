#include "run/InstructionStage.h"

#include "app/SourceLabels.h"

#include "journal/JournalAttachment.h"
#include "platform/files/Room.h"

#include <exception>

namespace updater {

InstructionStage::InstructionStage(const InstallationPaths& paths, StageContext& context,
                                   platform::Shell& shell, ErrorLog& log)
    : m_paths(paths), m_context(context), m_log(log), m_commands(paths, context, shell) {}

Outcome<void> InstructionStage::apply() {
    m_journal = std::make_unique<UpdateJournal>(m_paths.folder());
    try {
        const std::string instructions = m_context.resolve(m_paths.instructionFile());
        {
            const JournalAttachment recording(m_context.files(), *m_journal,
                                              m_context.resolve(m_paths.tempFolder()));
            requireRoom(instructions);
            InstructionReader file(instructions);
            for (std::string line; file.next(line);) {
                runLine(line);
            }
        }
        m_journal->commit();
        return {};
    } catch (const std::exception& failure) {
        // The installation is put back before anyone is told.
        const bool changed = m_journal->started();
        const Restoration restoration = m_journal->rollBack();
        m_log.note(logLabels::stage, failure.what(), true);
        if (changed) {
            m_log.note(logLabels::stage, restorationReport(restoration), false);
        }
        return failureOf(failure, sources::processExtract, true);
    }
}

void InstructionStage::runLine(const std::string& line) {
    m_commands.run(line);
}

void InstructionStage::requireRoom(const std::string& instructions) {
    std::uint64_t needed = 0;
    InstructionReader file(instructions);
    for (std::string line; file.next(line);) {
        needed += m_commands.bytesAdded(line);
    }
    platform::requireRoom(m_paths.folder(), needed, "the update", sources::processExtract);
}

std::string InstructionStage::restorationReport(const Restoration& restoration) const {
    if (restoration.whole()) {
        return std::string(restoration.left.empty()
                               ? "the installation was restored as it was: "
                               : "the installation was restored as far as it safely could be: ") +
               describeRestoration(restoration);
    }
    return "the installation could not be wholly restored: " + restoration.failure +
           "; the files the update replaced are kept in " + m_journal->folder().path() +
           ", and the next start finishes the restore";
}

void InstructionStage::removeKept() {
    tidy(&UpdateJournal::removeKept);
}

void InstructionStage::removeJournal() {
    tidy(&UpdateJournal::remove);
}

void InstructionStage::tidy(void (UpdateJournal::*step)()) {
    if (!m_journal) {
        return;
    }
    try {
        (m_journal.get()->*step)();
    } catch (const std::exception& failure) {
        m_log.note(logLabels::stage,
                   std::string("the update is installed, but its journal could not be cleared: ") +
                       failure.what() + "; the next start finishes it",
                   false);
    }
}

} // namespace updater
