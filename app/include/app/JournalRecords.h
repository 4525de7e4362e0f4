#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace updater {

// The records of an update's journal: one line each, in the order the
// changes were made, after a header line. A path is absolute and written
// with "%", CR and LF as "%25", "%0D" and "%0A", so that every record is one
// line whatever the instruction file named.
struct JournalRecord {
    enum class Kind {
        kept,   // the file at path was replaced; the journal keeps it as "kept-<number>"
        added,  // a file was made at path, where there was none
        folder, // the folder at path was made
    };
    Kind kind;
    std::string path;
    unsigned number = 0; // of the kept file

    bool operator==(const JournalRecord&) const = default;
};

// The first line of every journal.
std::string journalHeader();

// One record as its line, line end included.
std::string recordLine(const JournalRecord& record);

// The records of a journal's text. Each record is on disk before its change
// is made, so a last line without its line end (or a header cut short) was
// cut off before its change and is dropped. Raises platform::Error
// (pathFileAccess) for a text that is no journal: a wrong header or a whole
// line that is no record.
std::vector<JournalRecord> readRecords(std::string_view text, const std::string& path);

} // namespace updater
