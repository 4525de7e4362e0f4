#include "ResultText.h"

#include "unzip32.h"

namespace unzip32 {

namespace {

// The result codes of the public header, so that the switch below names each
// one and a code added without a text does not compile cleanly.
enum class Result : int32_t {
    ok = UZP_OK,
    noPassword = UZP_NO_PASSWORD,
    badPassword = UZP_BAD_PASSWORD,
    badEntryData = UZP_BAD_ENTRY_DATA,
    unsafeEntry = UZP_UNSAFE_ENTRY,
    unsupportedEntry = UZP_UNSUPPORTED_ENTRY,
    writeFailed = UZP_WRITE_FAILED,
    noMatch = UZP_NO_MATCH,
    diskFull = UZP_DISK_FULL,
    archiveNotFound = UZP_ARCHIVE_NOT_FOUND,
    archiveUnreadable = UZP_ARCHIVE_UNREADABLE,
    notAZip = UZP_NOT_A_ZIP,
    damagedArchive = UZP_DAMAGED_ARCHIVE,
    overlappingEntries = UZP_OVERLAPPING_ENTRIES,
    stoppedByCaller = UZP_STOPPED_BY_CALLER,
    nullPointer = UZP_NULL_POINTER,
    badArgument = UZP_BAD_ARGUMENT,
    badRecordLength = UZP_BAD_RECORD_LENGTH,
    outOfMemory = UZP_OUT_OF_MEMORY,
    internalError = UZP_INTERNAL_ERROR,
};

} // namespace

std::string resultText(int32_t code) {
    switch (static_cast<Result>(code)) {
    case Result::ok:
        return "done";
    case Result::noPassword:
        return "skipped: the entry is encrypted and no password was given";
    case Result::badPassword:
        return "skipped: wrong password";
    case Result::badEntryData:
        return "the entry's data is damaged";
    case Result::unsafeEntry:
        return "refused: it would land outside the folder";
    case Result::unsupportedEntry:
        return "skipped: its compression or encryption method is not read";
    case Result::writeFailed:
        return "cannot write the file";
    case Result::noMatch:
        return "no entry matches the names asked for";
    case Result::diskFull:
        return "the disk or quota is full";
    case Result::archiveNotFound:
        return "the archive file does not exist";
    case Result::archiveUnreadable:
        return "the archive cannot be read";
    case Result::notAZip:
        return "the file is not a zip archive";
    case Result::damagedArchive:
        return "the archive is truncated or its directory is damaged";
    case Result::overlappingEntries:
        return "entries share bytes; nothing done";
    case Result::stoppedByCaller:
        return "stopped by the caller";
    case Result::nullPointer:
        return "a required pointer was null";
    case Result::badArgument:
        return "a name count is negative";
    case Result::badRecordLength:
        return "the version record's length field is not its size";
    case Result::outOfMemory:
        return "out of memory";
    case Result::internalError:
        return "an unexpected failure inside the library";
    }
    return "failure " + std::to_string(code);
}

} // namespace unzip32
