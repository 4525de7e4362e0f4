#include "journal/JournalRecords.h"

#include "app/SourceLabels.h"

#include "journal/JournalPaths.h"
#include "platform/Error.h"
#include "text/Pieces.h"

#include <algorithm>
#include <charconv>
#include <sys/stat.h>
#include <type_traits>
#include <utility>

namespace updater {

namespace {

const char* const source = sources::journal;
constexpr std::string_view firstFormat = "updater-journal 1";
constexpr std::string_view secondFormat = "updater-journal 2";
constexpr std::string_view installationWord = "installation";

std::string escaped(std::string_view path) {
    std::string text;
    for (const char c : path) {
        if (c == '%') {
            text += "%25";
        } else if (c == ' ') {
            text += "%20";
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

// The path written by escaped (or by the first format's writer, which left
// spaces as they are), or false for any other text.
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
        } else if (code == "20") {
            path += ' ';
        } else if (code == "0A") {
            path += '\n';
        } else if (code == "0D") {
            path += '\r';
        } else {
            return false;
        }
        i += 2;
    }
    return !path.empty();
}

// A decimal number as the writer writes it: no sign but a minus of a
// signed number, no leading zero.
template <typename Number> bool readNumber(std::string_view field, Number& value) {
    std::string_view digits = field;
    if (std::is_signed_v<Number> && digits.starts_with('-')) {
        digits.remove_prefix(1);
    }
    if (digits.empty() || (digits.size() > 1 && digits[0] == '0') || digits[0] < '0' ||
        digits[0] > '9') {
        return false;
    }
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return error == std::errc() && end == field.data() + field.size();
}

// The first word of each kind's record.
constexpr std::pair<JournalRecord::Kind, std::string_view> kindWords[] = {
    {JournalRecord::Kind::kept, "kept"},
    {JournalRecord::Kind::added, "added"},
    {JournalRecord::Kind::folder, "folder"},
};

std::string wordOf(JournalRecord::Kind kind) {
    for (const auto& [known, word] : kindWords) {
        if (known == kind) {
            return std::string(word);
        }
    }
    return {};
}

// The kind a record's first word names; false for a word no record has.
bool readKind(std::string_view word, JournalRecord::Kind& kind) {
    for (const auto& [known, knownWord] : kindWords) {
        if (word == knownWord) {
            kind = known;
            return true;
        }
    }
    return false;
}

// A record of the first format: "kept <number> <path>", "added <path>" or
// "folder <path>", the path absolute and its spaces as they are.
bool readFirstFormat(std::string_view line, JournalRecord& record) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) {
        return false;
    }
    std::string_view rest = line.substr(space + 1);
    if (!readKind(line.substr(0, space), record.kind)) {
        return false;
    }
    if (record.kind == JournalRecord::Kind::kept) {
        const std::size_t gap = rest.find(' ');
        if (gap == std::string_view::npos || !readNumber(rest.substr(0, gap), record.number) ||
            record.number == 0) {
            return false;
        }
        rest = rest.substr(gap + 1);
    }
    return unescaped(rest, record.path) && record.outside();
}

// A path of the second format: relative and direct inside the
// installation, absolute and direct outside it; the writer never names a
// path inside the installation absolute.
bool readPath(std::string_view field, const std::string& installation, std::string& path) {
    if (!unescaped(field, path) || !namesDirectly(path)) {
        return false;
    }
    return !path.starts_with('/') || (path != installation && !pathBelow(installation, path));
}

// The identity written after an added file's path, when there is one; a
// record that begins one must hold it whole.
bool readPlaced(const std::vector<std::string>& fields, JournalRecord& record) {
    if (fields.size() == 2) {
        return true;
    }
    PlacedFile placed;
    if (fields.size() < 5 || !readNumber(fields[2], placed.device) ||
        !readNumber(fields[3], placed.inode) ||
        !readNumber(fields[4], placed.modifiedNanoseconds)) {
        return false;
    }
    record.placed = placed;
    return true;
}

// A record of the second format. Fields after those its kind has were
// added by a later writer and are skipped.
bool readSecondFormat(const std::vector<std::string>& fields, const std::string& installation,
                      JournalRecord& record) {
    if (!readKind(fields[0], record.kind)) {
        return false;
    }
    std::size_t pathField = 1;
    if (record.kind == JournalRecord::Kind::kept) {
        FileIdentity identity;
        if (fields.size() < 6 || !readNumber(fields[1], record.number) || record.number == 0 ||
            !readNumber(fields[2], identity.device) || !readNumber(fields[3], identity.inode) ||
            !readNumber(fields[4], identity.changedNanoseconds)) {
            return false;
        }
        record.replaced = identity;
        pathField = 5;
    }
    if (record.kind == JournalRecord::Kind::added && !readPlaced(fields, record)) {
        return false;
    }
    return fields.size() > pathField && readPath(fields[pathField], installation, record.path);
}

// The installation line of the second format, before any record; false
// when it is not one or is out of place.
bool readInstallation(const std::vector<std::string>& fields, JournalContents& contents) {
    return contents.installation.empty() && contents.records.empty() && fields.size() >= 2 &&
           unescaped(fields[1], contents.installation) && contents.installation.starts_with('/') &&
           namesDirectly(contents.installation);
}

// One line after the header, into contents; false when it is damaged.
bool readLine(std::string_view line, bool firstFormatText, JournalContents& contents) {
    JournalRecord record{};
    if (firstFormatText) {
        if (!readFirstFormat(line, record)) {
            return false;
        }
    } else {
        const std::vector<std::string> fields = text::splitText(line, ' ');
        if (fields.empty() || std::find(fields.begin(), fields.end(), "") != fields.end()) {
            return false;
        }
        if (fields[0] == installationWord) {
            return readInstallation(fields, contents);
        }
        if (contents.installation.empty() ||
            !readSecondFormat(fields, contents.installation, record)) {
            return false;
        }
    }
    contents.records.push_back(std::move(record));
    return true;
}

} // namespace

namespace {

constexpr std::int64_t perSecond = 1000000000;

std::int64_t nanoseconds(const struct timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * perSecond + time.tv_nsec;
}

} // namespace

FileIdentity identityOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            nanoseconds(status.st_ctim)};
}

PlacedFile placedFileOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            nanoseconds(status.st_mtim)};
}

bool isPlaced(const PlacedFile& placed, const struct stat& status) {
    return S_ISREG(status.st_mode) &&
           placedFileOf(status).modifiedNanoseconds == placed.modifiedNanoseconds;
}

std::string journalHeader(const std::string& installFolder) {
    return std::string(secondFormat) + "\n" + std::string(installationWord) + " " +
           escaped(installFolder) + "\n";
}

std::string recordLine(const JournalRecord& record) {
    std::string line = wordOf(record.kind);
    if (record.kind == JournalRecord::Kind::kept) {
        const FileIdentity identity = record.replaced.value_or(FileIdentity{});
        line += " " + std::to_string(record.number) + " " + std::to_string(identity.device) + " " +
                std::to_string(identity.inode) + " " + std::to_string(identity.changedNanoseconds);
    }
    line += " " + escaped(record.path);
    if (record.kind == JournalRecord::Kind::added && record.placed) {
        line += " " + std::to_string(record.placed->device) + " " +
                std::to_string(record.placed->inode) + " " +
                std::to_string(record.placed->modifiedNanoseconds);
    }
    return line + "\n";
}

JournalContents readJournal(std::string_view text, const std::string& path) {
    JournalContents contents;
    bool firstFormatText = false;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos;
         start = end + 1) {
        const std::string_view line = text.substr(start, end - start);
        if (start == 0) {
            firstFormatText = line == firstFormat;
            if (!firstFormatText && line != secondFormat) {
                platform::raiseError(platform::ErrorNumber::pathFileAccess, source,
                                     path + " is not an update journal this updater can finish");
            }
        } else if (!readLine(line, firstFormatText, contents)) {
            platform::raiseError(platform::ErrorNumber::pathFileAccess, source,
                                 path + " holds a damaged record: \"" + std::string(line) + "\"");
        }
    }
    return contents;
}

} // namespace updater
