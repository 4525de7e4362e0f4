#include "TestHandler.h"

#include "EntryLines.h"
#include "EntryStream.h"
#include "StandardOutput.h"

namespace unzip32 {

void TestHandler::handle(const EntryInfo& entry) {
    if (entry.kind == EntryKind::Folder) {
        m_context.outcomes.processed(entry);
        return;
    }
    readEntry(m_context, entry, false, [](EntryStream& stream) {
        while (!stream.next().empty()) {
        }
    });
    m_context.reporter.info(entryLine("testing", entry.name, entry, m_context.settings.verbose) +
                            "  OK");
    m_context.outcomes.processed(entry);
}

void StandardOutputHandler::handle(const EntryInfo& entry) {
    if (entry.kind != EntryKind::File) {
        return;
    }
    // What went out cannot be taken back: no second reading here.
    EntryStream stream(m_context, entry, m_context.settings.translateLineEnds);
    for (std::string_view piece = stream.next(); !piece.empty(); piece = stream.next()) {
        writeToStandardOutput(piece);
    }
    m_context.outcomes.processed(entry);
}

} // namespace unzip32
