#include "app/JournalRecords.h"

#include "platform/Error.h"

#include <charconv>

namespace updater {

namespace {

const char* const source = "UpdateJournal";
constexpr std::string_view header = "updater-journal 1";

std::string escaped(std::string_view path) {
    std::string text;
    for (const char c : path) {
        if (c == '%') {
            text += "%25";
        } else if (c == '\n') {
            text += "%0A";
        } else if (c == '\r') {
            text += "%0D";
        } else {
            text += c;
        }
    }
    return text;
}

// The path written by escaped, or false for any other text.
bool unescaped(std::string_view text, std::string& path) {
    path.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\0') {
            return false;
        }
        if (text[i] != '%') {
            path += text[i];
            continue;
        }
        const std::string_view code = text.substr(i + 1, 2);
        if (code == "25") {
            path += '%';
        } else if (code == "0A") {
            path += '\n';
        } else if (code == "0D") {
            path += '\r';
        } else {
            return false;
        }
        i += 2;
    }
    return !path.empty() && path[0] == '/';
}

bool parseLine(std::string_view line, JournalRecord& record) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) {
        return false;
    }
    const std::string_view word = line.substr(0, space);
    std::string_view rest = line.substr(space + 1);
    if (word == "kept") {
        const std::size_t gap = rest.find(' ');
        if (gap == std::string_view::npos || gap == 0 || rest[0] == '0') {
            return false;
        }
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + gap, record.number);
        if (error != std::errc() || end != rest.data() + gap) {
            return false;
        }
        record.kind = JournalRecord::Kind::kept;
        rest = rest.substr(gap + 1);
    } else if (word == "added") {
        record.kind = JournalRecord::Kind::added;
    } else if (word == "folder") {
        record.kind = JournalRecord::Kind::folder;
    } else {
        return false;
    }
    return unescaped(rest, record.path);
}

} // namespace

std::string journalHeader() {
    return std::string(header) + "\n";
}

std::string recordLine(const JournalRecord& record) {
    switch (record.kind) {
    case JournalRecord::Kind::kept:
        return "kept " + std::to_string(record.number) + " " + escaped(record.path) + "\n";
    case JournalRecord::Kind::added:
        return "added " + escaped(record.path) + "\n";
    case JournalRecord::Kind::folder:
        return "folder " + escaped(record.path) + "\n";
    }
    return {};
}

std::vector<JournalRecord> readRecords(std::string_view text, const std::string& path) {
    std::vector<JournalRecord> records;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos;
         start = end + 1) {
        const std::string_view line = text.substr(start, end - start);
        if (start == 0) {
            if (line != header) {
                platform::raiseError(platform::ErrorNumber::pathFileAccess, source,
                                     path + " is not an update journal");
            }
            continue;
        }
        JournalRecord record{};
        if (!parseLine(line, record)) {
            platform::raiseError(platform::ErrorNumber::pathFileAccess, source,
                                 path + " holds a damaged record: \"" + std::string(line) + "\"");
        }
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace updater
