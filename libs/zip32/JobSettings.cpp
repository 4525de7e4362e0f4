#include "JobSettings.h"

#include "JobFailure.h"

#include <cctype>
#include <string_view>

namespace zip32 {

namespace {

// The level byte: 0 means the default, the digits and 1 to 9 their level.
int readLevel(uint8_t value) {
    if (value == 0) {
        return 6;
    }
    if (value >= '0' && value <= '9') {
        return value - '0';
    }
    if (value <= 9) {
        return value;
    }
    throw JobFailure(ZP_BAD_ARGUMENT, "compression level " + std::to_string(value) +
                                          " is neither 0, '0' to '9' nor 1 to 9");
}

bool digitsOnly(std::string_view text) {
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

int number(std::string_view digits) {
    int value = 0;
    for (const char c : digits) {
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string withForwardSlashes(std::string text) {
    for (char& c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

} // namespace

std::optional<std::time_t> readDate(const char* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    const std::string_view date(text);
    int year = 0;
    int month = 0;
    int day = 0;
    if (date.size() == 8 && digitsOnly(date)) {
        month = number(date.substr(0, 2));
        day = number(date.substr(2, 2));
        year = number(date.substr(4, 4));
    } else if (date.size() == 10 && date[4] == '-' && date[7] == '-' &&
               digitsOnly(date.substr(0, 4)) && digitsOnly(date.substr(5, 2)) &&
               digitsOnly(date.substr(8, 2))) {
        year = number(date.substr(0, 4));
        month = number(date.substr(5, 2));
        day = number(date.substr(8, 2));
    } else {
        return std::nullopt;
    }
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_isdst = -1;
    const std::time_t moment = std::mktime(&fields);
    // mktime carries 31 February into March: such a date is not real.
    if (moment == -1 || fields.tm_mday != day || fields.tm_mon != month - 1 || year < 1970) {
        return std::nullopt;
    }
    return moment;
}

JobSettings readSettings(const ZpOptions& options) {
    JobSettings settings;
    settings.kind = options.deleteEntries != 0  ? JobKind::Delete
                    : options.freshenNewer != 0 ? JobKind::Freshen
                    : options.updateNewer != 0  ? JobKind::Update
                                                : JobKind::Add;
    settings.encrypt = options.encryptEntries != 0;
    settings.includeHidden = options.includeSystemAndHidden != 0;
    settings.exactTimes = options.excludeExtraAttributes == 0;
    settings.directoryEntries = options.noDirectoryEntries == 0;
    settings.verbose = options.verbose != 0;
    settings.quiet = options.quiet != 0;
    settings.crlfToLf = options.crlfToLf != 0;
    settings.lfToCrlf = options.lfToCrlf != 0;
    settings.junkFolders = options.junkFolderNames != 0;
    settings.recurse = options.recurseFolders != 0;
    settings.shortNames = options.forceShortNames != 0;
    settings.move = options.moveFiles != 0;
    settings.junkPrefix = options.junkSelfExtractorPrefix != 0;
    settings.adjustOffsets = options.adjustSelfExtractorOffsets != 0;
    settings.archiveTimeFromLatest = options.archiveTimeFromLatest != 0;
    settings.comment = options.addArchiveComment != 0;
    settings.repair = options.repairArchive != 0;
    settings.level = readLevel(options.compressionLevel);
    if (settings.crlfToLf && settings.lfToCrlf) {
        throw JobFailure(ZP_BAD_ARGUMENT, "line ends cannot be changed both ways at once");
    }
    if (options.includeByDate != 0 || options.excludeByDate != 0) {
        const auto date = readDate(options.dateText);
        if (!date) {
            throw JobFailure(ZP_BAD_DATE, std::string("the date \"") +
                                              (options.dateText ? options.dateText : "") +
                                              "\" is neither mmddyyyy nor yyyy-mm-dd");
        }
        if (options.includeByDate != 0) {
            settings.notBefore = date;
        }
        if (options.excludeByDate != 0) {
            settings.before = date;
        }
    }
    if (options.rootDirectory != nullptr) {
        settings.rootDirectory = withForwardSlashes(options.rootDirectory);
    }
    return settings;
}

} // namespace zip32
