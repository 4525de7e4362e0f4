/*
 * libunzip32: unpacks, tests or lists one zip archive in a single call.
 *
 * Plain C, native calling convention and native pointers. The library runs
 * the whole job inside Wiz_SingleEntryUnzip and calls every callback on the
 * calling thread before that call returns. Messages come in the order of the
 * entries. An extraction that overwrites without asking unpacks files on
 * threads of its own meanwhile, one per processor the process may run on and
 * at most 8, each with one read buffer of at most 256 KiB (and a second, and
 * a thread writing behind it, while it unpacks a file of 4 MiB or more);
 * they have ended when the call returns. No C++ exception ever leaves it.
 */
#ifndef UNZIP32_H
#define UNZIP32_H

#include <stddef.h>
#include <stdint.h>

#if defined(UNZIP32_BUILDING)
#define UNZIP32_API __attribute__((visibility("default")))
#else
#define UNZIP32_API
#endif

#ifdef __cplusplus
#define UZP_STATIC_ASSERT(condition, message) static_assert(condition, message)
extern "C" {
#else
#define UZP_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

/* ---- Result codes ------------------------------------------------------
 * Wiz_SingleEntryUnzip returns the code of the first failure of the job
 * (a failure that stops the job wins); every failure is also printed through
 * the print callback with the entry's name. UZP_DISK_FULL stops the job where
 * the disk filled, or before anything is written when the room check of an
 * extraction (see Wiz_SingleEntryUnzip) finds too little room. */
#define UZP_OK 0                   /* everything selected was extracted, tested or listed */
#define UZP_NO_PASSWORD 1          /* an encrypted entry was skipped: no password was given */
#define UZP_BAD_PASSWORD 2         /* an encrypted entry was skipped: the password was wrong */
#define UZP_BAD_ENTRY_DATA 3       /* an entry's data is damaged (CRC, compressed data, size) */
#define UZP_UNSAFE_ENTRY 4         /* an entry was refused: it would land outside the folder */
#define UZP_UNSUPPORTED_ENTRY 5    /* an entry uses a compression or encryption method not read */
#define UZP_WRITE_FAILED 6         /* a file, folder or link could not be created or written */
#define UZP_NO_MATCH 7             /* the include list selected no entry of the archive */
#define UZP_DISK_FULL 8            /* the disk or quota is full, or too small for the job */
#define UZP_ARCHIVE_NOT_FOUND 9    /* the archive file does not exist */
#define UZP_ARCHIVE_UNREADABLE 10  /* the archive could not be opened or read */
#define UZP_NOT_A_ZIP 11           /* the file is not a zip archive */
#define UZP_DAMAGED_ARCHIVE 12     /* the archive is truncated or its directory is damaged */
#define UZP_OVERLAPPING_ENTRIES 13 /* entries share bytes (a bomb construction); nothing done */
#define UZP_STOPPED_BY_CALLER 14   /* the service callback asked to stop; the job stopped there */
#define UZP_NULL_POINTER 15        /* a required pointer was null; nothing was done */
#define UZP_BAD_ARGUMENT 16        /* a count was negative; nothing was done */
#define UZP_BAD_RECORD_LENGTH 17   /* the version record's length field is not its size */
#define UZP_OUT_OF_MEMORY 18       /* memory ran out; the job stopped there */
#define UZP_INTERNAL_ERROR 19      /* an unexpected failure inside the library stopped the job */

/* ---- Answers of the callbacks ----------------------------------------- */
#define UZP_OVERWRITE_LEAVE_FILE 100 /* leave this existing file as it is */
#define UZP_OVERWRITE_THIS_FILE 102  /* replace this existing file */
#define UZP_OVERWRITE_NONE 104       /* leave this and every later existing file */
#define UZP_PASSWORD_GIVEN 0         /* a zero-terminated password is in the buffer */
#define UZP_PASSWORD_NONE 1          /* no password: the entry is skipped */

/* Size of the password buffer handed to the password callback, in bytes,
 * terminating zero included. */
#define UZP_PASSWORD_BUFFER_SIZE 256

/* ---- Callbacks ---------------------------------------------------------- */

/* One message (usually one line ending in "\n"); length counts the bytes
 * before the terminating zero. Returns 0. */
typedef int32_t (*UzpPrintCallback)(const char* text, uint32_t length);

/* Called once at the end of a job whose result is not UZP_OK. */
typedef void (*UzpSoundCallback)(void);

/* Asked before an existing file is replaced, with that file's full path.
 * Answers UZP_OVERWRITE_*; any other answer leaves the file. */
typedef int32_t (*UzpOverwriteCallback)(const char* existingFilePath);

/* Asked for an encrypted entry that the job knows no password for. Within
 * one call of the library, the last password that opened an entry which
 * then proved sound (read to its end, its CRC-32 right) is tried first on
 * every later encrypted entry, so that entries sharing one password ask for
 * it once; the callback is asked when that password does not open the
 * entry, and also when it passed the entry's password check by chance but
 * the data shows it wrong (the entry is then read again with the answer).
 * Nothing is kept from one call to the next, and the library wipes every
 * password from its memory when done with it. The buffer holds bufferSize
 * zero bytes; the callback writes at most bufferSize - 1 bytes of password
 * into it. Answers UZP_PASSWORD_GIVEN or UZP_PASSWORD_NONE. */
typedef int32_t (*UzpPasswordCallback)(char* passwordBuffer, int32_t bufferSize, const char* prompt,
                                       const char* entryName);

/* One call per listed entry. Sizes above 4 GiB - 1 are given as 0xFFFFFFFF.
 * compressionPercent is the share saved (negative when the entry grew);
 * the date and time are the entry's modification time in local time (year
 * in full, month 1 to 12). entryKind is '-' for a file, 'd' for a folder,
 * 'l' for a symbolic link. methodName is "Stored", "Deflate", "BZip2", ... .
 * isEncrypted is 1 for an encrypted entry, 0 otherwise. */
typedef void (*UzpListingCallback)(uint32_t uncompressedSize, uint32_t compressedSize,
                                   int32_t compressionPercent, uint32_t month, uint32_t day,
                                   uint32_t year, uint32_t hour, uint32_t minute, char entryKind,
                                   const char* entryName, const char* methodName, uint32_t crc32,
                                   char isEncrypted);

/* Called before each selected entry with its name and uncompressed size
 * (saturated like the listing's). 0 carries on; anything else stops the job
 * with UZP_STOPPED_BY_CALLER. */
typedef int32_t (*UzpServiceCallback)(const char* entryName, uint32_t uncompressedSize);

/* ---- Records ------------------------------------------------------------ */

/* The options of one job. Every flag counts as set when it is not 0.
 * Which job runs: listContents, else testOnly, else writeToStandardOutput,
 * else extraction into files.
 *
 * privilegeLevel, for what extraction restores of an entry's access rights:
 *   below 0  recorded permissions are ignored: files and folders get the
 *            usual 0666 / 0777 less the process's umask;
 *   0        the read, write and execute bits the archive records are
 *            restored less the process's umask (files without recorded
 *            bits get the usual ones); set-user-ID, set-group-ID and sticky
 *            never are;
 *   1 and up as 0, and when the process runs as root the owner and group
 *            the entry records are restored too.
 * At every level the owner keeps the right to read and write a created file
 * and to read, write and enter a created folder, so that what was extracted
 * can always be replaced or removed again. */
typedef struct UzpOptions {
    int32_t extractOnlyNewer;      /* create new files, replace older ones, never ask */
    int32_t spacesToUnderscores;   /* spaces in created names become underscores */
    int32_t promptBeforeOverwrite; /* ask the overwrite callback before replacing a file */
    int32_t quietLevel; /* <= 0: a line per entry; 1: warnings and errors; >= 2: errors */
    int32_t writeToStandardOutput; /* write entry data to standard output, not to files */
    int32_t testOnly;              /* check every entry's data and CRC, write nothing */
    int32_t listContents;          /* 0: extract; otherwise list entries, write nothing */
    int32_t freshenExisting;       /* replace existing files by newer entries, create nothing */
    int32_t displayComment;        /* print the archive comment, whatever the quiet level */
    int32_t honorDirectories;      /* recreate stored folders; 0 puts every file in the folder */
    int32_t overwriteExisting;     /* replace existing files without asking */
    int32_t translateLineEnds;     /* CR LF becomes LF in text entries */
    int32_t verbose;               /* per-entry lines carry sizes, method and CRC, plus a total */
    int32_t caseSensitiveMatching; /* include and exclude patterns respect letter case */
    int32_t privilegeLevel;        /* what is restored of access rights: see above */
    const char* archivePath;       /* the zip archive; required; "\" reads as "/" */
    const char* extractionFolder;  /* null or empty: the current folder; "\" reads as "/" */
} UzpOptions;

/* Callback addresses, and totals the library fills in at the end of a job.
 * printMessage may be null (messages are dropped); askOverwrite is required
 * when promptBeforeOverwrite is set for an extraction; reportListedEntry is
 * required when listing; every other callback may be null. */
typedef struct UzpCallbacks {
    UzpPrintCallback printMessage;
    UzpSoundCallback playSound;
    UzpOverwriteCallback askOverwrite;
    UzpPasswordCallback askPassword;
    UzpListingCallback reportListedEntry;
    UzpServiceCallback beforeEntry;
    uint32_t totalUncompressedBytes; /* of the entries processed, saturated */
    uint32_t totalCompressedBytes;   /* of the entries processed, saturated */
    int32_t totalCompressionPercent; /* share saved over the entries processed */
    uint32_t entriesProcessed;       /* entries extracted, tested or listed */
    uint16_t entriesFailed;          /* entries refused, skipped for a fault or damaged */
} UzpCallbacks;

/* major.minor.patch of a component. */
typedef struct UzpVersionNumber {
    uint8_t major;
    uint8_t minor;
    uint8_t patch;
    uint8_t reserved;
} UzpVersionNumber;

#define UZP_VERSION_FLAG_PRERELEASE 1u /* the library is not a release build */
#define UZP_VERSION_FLAG_DECRYPTS 2u   /* encrypted entries can be read */

/* Filled in by UzpVersion2; the caller sets structureLength to its size. */
typedef struct UzpVersionRecord {
    uint32_t structureLength;           /* sizeof(UzpVersionRecord), 64 */
    uint32_t flags;                     /* UZP_VERSION_FLAG_* */
    char betaLevel[10];                 /* empty for a release */
    char releaseDate[20];               /* "YYYY-MM-DD" */
    char compressionLibraryVersion[10]; /* of the archive engine below the library */
    UzpVersionNumber unzipVersion;      /* of the extraction engine */
    UzpVersionNumber listingVersion;    /* of the listing engine */
    UzpVersionNumber os2LibraryVersion; /* no such library here: 0.0.0 */
    UzpVersionNumber libraryVersion;    /* of this library's interface */
} UzpVersionRecord;

/* ---- Entry points ------------------------------------------------------- */

/* Fills the record. UZP_NULL_POINTER for a null record, UZP_BAD_RECORD_LENGTH
 * (and nothing written) when structureLength is not 64. */
UNZIP32_API int32_t UzpVersion2(UzpVersionRecord* versionRecord);

/* Runs one job on options->archivePath. includeNames and excludeNames hold
 * includeCount and excludeCount patterns ("*" any run of characters, "?" one
 * character, matched against the whole entry name); an empty include list
 * selects every entry. A list may be null when its count is 0.
 *
 * Before an extraction writes anything it checks the room left on the disk
 * that holds the extraction folder, and returns UZP_DISK_FULL, with a
 * sentence saying what is needed and what is free, when the job would not
 * fit. It counts only the files the job will write: with freshenExisting
 * those that exist and are older, with extractOnlyNewer those missing or
 * older, without overwriteExisting (and without asking) none that exist; a
 * file the overwrite callback will be asked about counts as written. Each
 * counts at what it adds over the file it replaces (nothing when it
 * shrinks; its whole size when the replaced file has another name too).
 * Each file is written under a temporary name and then renamed over the
 * file it replaces, in the archive's order, which holds its room until
 * then; so the need is the most, over the files written, of what the files
 * before it added plus the whole sizes of it and of the files unpacked
 * beside it: up to 4 per thread and 64 MiB together (one file whatever its
 * size). Where the disk has room for one file at a time only, the job
 * unpacks one at a time and needs no more than that. A job that stops at an
 * entry leaves no later file in place. */
UNZIP32_API int32_t Wiz_SingleEntryUnzip(int32_t includeCount, const char* const* includeNames,
                                         int32_t excludeCount, const char* const* excludeNames,
                                         const UzpOptions* options, UzpCallbacks* callbacks);

/* ---- Layout ------------------------------------------------------------- */
UZP_STATIC_ASSERT(offsetof(UzpOptions, privilegeLevel) == 56, "fifteen integers come first");
UZP_STATIC_ASSERT(offsetof(UzpOptions, archivePath) == (sizeof(void*) == 8 ? 64 : 60),
                  "archive path follows the integers");
UZP_STATIC_ASSERT(offsetof(UzpOptions, extractionFolder) ==
                      offsetof(UzpOptions, archivePath) + sizeof(void*),
                  "extraction folder follows the archive path");
UZP_STATIC_ASSERT(sizeof(UzpOptions) == (sizeof(void*) == 8 ? 80 : 68), "option record size");
UZP_STATIC_ASSERT(offsetof(UzpCallbacks, totalUncompressedBytes) == 6 * sizeof(void*),
                  "six callback pointers come first");
UZP_STATIC_ASSERT(offsetof(UzpCallbacks, entriesFailed) == 6 * sizeof(void*) + 16,
                  "the count follows the four totals");
UZP_STATIC_ASSERT(sizeof(UzpCallbacks) == (sizeof(void*) == 8 ? 72 : 44), "callback record size");
UZP_STATIC_ASSERT(offsetof(UzpVersionRecord, betaLevel) == 8, "beta level at 8");
UZP_STATIC_ASSERT(offsetof(UzpVersionRecord, releaseDate) == 18, "date at 18");
UZP_STATIC_ASSERT(offsetof(UzpVersionRecord, compressionLibraryVersion) == 38,
                  "compression library version at 38");
UZP_STATIC_ASSERT(offsetof(UzpVersionRecord, unzipVersion) == 48, "unzip version at 48");
UZP_STATIC_ASSERT(offsetof(UzpVersionRecord, libraryVersion) == 60, "library version at 60");
UZP_STATIC_ASSERT(sizeof(UzpVersionRecord) == 64, "version record size");

#ifdef __cplusplus
}
#endif

#endif /* UNZIP32_H */
