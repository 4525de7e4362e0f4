/*
 * libzip32: builds, updates, prunes or repairs one zip archive in a single
 * call.
 *
 * Plain C, native calling convention and native pointers. ZpInit keeps the
 * callbacks and ZpSetOptions a copy of the options for the ZpArchive calls
 * that follow; that state belongs to the process, and the calls take turns
 * (a call waits while another thread is inside the library; a callback may
 * call in again on its own thread). ZpArchive does its whole job inside the
 * call and calls every callback on the calling thread before it returns
 * (files may be deflated, and a repaired archive's entries read back, on
 * threads of its own meanwhile; they have ended when the call returns). No C++ exception ever leaves it. ZpSetChunking
 * keeps how large files are deflated in chunks, for the same calls.
 *
 * The archive is written under a temporary name beside it and renamed into
 * place only when complete: whatever fails, an archive that was there stays
 * byte for byte as it was and no temporary file is left behind.
 */
#ifndef ZIP32_H
#define ZIP32_H

#include <stddef.h>
#include <stdint.h>

#if defined(ZIP32_BUILDING)
#define ZIP32_API __attribute__((visibility("default")))
#else
#define ZIP32_API
#endif

#ifdef __cplusplus
#define ZP_STATIC_ASSERT(condition, message) static_assert(condition, message)
extern "C" {
#else
#define ZP_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

/* ---- Result codes ------------------------------------------------------
 * ZpArchive returns the code of the failure that stopped it; every failure
 * and warning is also printed through the message callback. Unless the code
 * says otherwise, the archive was left untouched. */
#define ZP_OK 0                 /* the archive was built or changed as asked */
#define ZP_NOTHING_TO_DO 1      /* no name selected anything to add or delete */
#define ZP_BAD_ARGUMENT 2       /* a negative count, an unknown level, both line-end changes */
#define ZP_NULL_POINTER 3       /* a required pointer or callback was null */
#define ZP_BAD_DATE 4           /* a date filter is on and its date text is not a date */
#define ZP_ROOT_NOT_FOUND 5     /* the root directory is not an existing folder */
#define ZP_DUPLICATE_NAME 6     /* two selected files would be stored under one name */
#define ZP_FILE_UNREADABLE 7    /* a selected file or folder could not be read */
#define ZP_ARCHIVE_UNREADABLE 8 /* the existing archive could not be opened or read */
#define ZP_NOT_A_ZIP                                                                               \
    9                           /* the existing file is not a zip archive, or its directory is     \
                                   damaged (see repairArchive) */
#define ZP_WRITE_FAILED 10      /* the new archive could not be written or put in place */
#define ZP_DISK_FULL 11         /* the disk or quota is full */
#define ZP_NO_PASSWORD 12       /* encryption asked for, and no password was given */
#define ZP_STOPPED_BY_CALLER 13 /* the service callback asked to stop */
#define ZP_NOTHING_RECOVERED 14 /* repair found no entry whose data checks out */
#define ZP_SOURCES_KEPT                                                                            \
    15                       /* the archive is complete and in place, but some moved files         \
                                or folders could not be removed */
#define ZP_OUT_OF_MEMORY 16  /* memory ran out */
#define ZP_INTERNAL_ERROR 17 /* an unexpected failure inside the library */

/* ---- Answers of the callbacks ----------------------------------------- */
#define ZP_PASSWORD_GIVEN 0 /* a zero-terminated password is in the buffer */
#define ZP_PASSWORD_NONE 1  /* no password: an encrypting call fails with ZP_NO_PASSWORD */

/* Size of the password buffer and of the comment buffer handed to the
 * callbacks, in bytes, terminating zero included. */
#define ZP_PASSWORD_BUFFER_SIZE 256
#define ZP_COMMENT_BUFFER_SIZE 4097

/* ---- Callbacks ---------------------------------------------------------- */

/* One message (one line ending in "\n"); length counts the bytes before the
 * terminating zero. The return value is not looked at. */
typedef int32_t (*ZpMessageCallback)(const char* text, uint32_t length);

/* Asked once per encrypting call. The buffer holds bufferSize zero bytes;
 * the callback writes at most bufferSize - 1 bytes of password into it.
 * prompt is a question for a user, archiveName the archive's path. Answers
 * ZP_PASSWORD_GIVEN or ZP_PASSWORD_NONE; an empty password counts as none. */
typedef int32_t (*ZpPasswordCallback)(char* passwordBuffer, int32_t bufferSize, const char* prompt,
                                      const char* archiveName);

/* Asked once when addArchiveComment is set. The buffer (ZP_COMMENT_BUFFER_SIZE
 * bytes) holds the archive's present comment, zero-terminated. Returns a
 * zero-terminated comment (the buffer itself or text of its own, read before
 * ZpArchive goes on), or null to leave the comment as it is. At most 4096
 * bytes of it are kept. */
typedef char* (*ZpCommentCallback)(char* commentBuffer);

/* Called before each entry is added with its stored name and size (sizes
 * above 4 GiB - 1 are given as 0xFFFFFFFF). 0 carries on; anything else stops
 * the call with ZP_STOPPED_BY_CALLER before the archive is touched. */
typedef int32_t (*ZpServiceCallback)(const char* entryName, uint32_t size);

/* One chunk of a chunked entry, reported in order as the entry is written:
 * its uncompressed and compressed lengths. Return 0 to go on; anything else
 * stops the call with ZP_STOPPED_BY_CALLER. */
typedef int32_t (*ZpChunkCallback)(const char* entryName, uint64_t uncompressedLength,
                                   uint64_t compressedLength);

/* ---- Records ------------------------------------------------------------ */

/* Callback addresses for ZpInit. Every one may be null: messages are then
 * dropped, an encrypting call fails with ZP_NO_PASSWORD, a comment option
 * fails with ZP_NULL_POINTER, and nothing is asked before each entry. */
typedef struct ZpCallbacks {
    ZpMessageCallback printMessage;
    ZpPasswordCallback askPassword;
    ZpCommentCallback askComment;
    ZpServiceCallback beforeEntry;
} ZpCallbacks;

/* The options of the ZpArchive calls that follow. Every flag counts as set
 * when it is not 0.
 *
 * Which job runs: deleteEntries, else freshenNewer, else updateNewer, else
 * adding (replacing entries of the same name). An existing archive always
 * keeps its other entries; repairArchive first rebuilds the existing archive
 * from its entries' own headers (keeping only entries whose data checks out)
 * and then does the job on the result.
 *
 * Names (the list of ZpArchive) are files, folders or patterns ("*" any run of
 * characters, "?" one character, within one path component), absolute or
 * relative to rootDirectory. "\" reads as "/". Existing names and the root
 * are found without regard to letter case (an exact match wins, then the
 * first in byte order). A name that matches nothing is a warning. The root
 * directory and the archive are the ones named: a "*" or "?" in them is part
 * of the name, never a pattern.
 *
 * Stored names are relative with "/" separators: relative to the root for
 * what lies below it, the full path without its leading "/" otherwise.
 *
 * Accepted and without effect on this system: includeSuffixes,
 * storeVolumeLabel, privileges, grow (an existing archive is always added to).
 *
 * A prefix in front of an archive (a self-extractor's program) is kept unless
 * junkSelfExtractorPrefix, and the offsets written always count from the
 * start of the file. An archive whose offsets do not count its prefix cannot
 * be opened (ZP_NOT_A_ZIP) unless adjustSelfExtractorOffsets is set: it is
 * then rebuilt from its local headers, as repairArchive does. A rebuilt
 * archive keeps its entries' data, names and DOS times; permission bits and
 * the comment live only in the damaged directory and are not recovered.
 *
 * crlfToLf and lfToCrlf together are ZP_BAD_ARGUMENT. */
typedef struct ZpOptions {
    int32_t includeSuffixes;            /* no meaning here; accepted */
    int32_t encryptEntries;             /* AES-256 with the password callback's password */
    int32_t includeSystemAndHidden;     /* recursing and wildcards also take names beginning
                                           with "." */
    int32_t storeVolumeLabel;           /* no meaning here; accepted */
    int32_t excludeExtraAttributes;     /* no exact timestamp field (the DOS time stays) */
    int32_t noDirectoryEntries;         /* store files only, no folder entries */
    int32_t excludeByDate;              /* only files modified before dateText */
    int32_t includeByDate;              /* only files modified on or after dateText */
    int32_t verbose;                    /* sizes per entry and a line of totals */
    int32_t quiet;                      /* only warnings and errors */
    int32_t crlfToLf;                   /* text files: CR LF stored as LF */
    int32_t lfToCrlf;                   /* text files: a lone LF stored as CR LF */
    int32_t junkFolderNames;            /* store file names without their folders */
    int32_t recurseFolders;             /* a named folder brings its whole tree */
    int32_t grow;                       /* always the case: an archive keeps its entries */
    int32_t forceShortNames;            /* store upper-case 8.3 names */
    int32_t moveFiles;                  /* delete added files (and folders they empty) once the
                                           new archive is in place */
    int32_t deleteEntries;              /* delete the entries matching the names */
    int32_t updateNewer;                /* add new files, replace entries whose file is newer */
    int32_t freshenNewer;               /* only replace entries whose file is newer */
    int32_t junkSelfExtractorPrefix;    /* drop whatever stands before the first entry */
    int32_t archiveTimeFromLatest;      /* the archive file's time becomes its latest entry's */
    int32_t addArchiveComment;          /* the comment callback supplies the archive comment */
    int32_t adjustSelfExtractorOffsets; /* rebuild an archive whose offsets miss its prefix */
    int32_t privileges;                 /* no meaning here; accepted */
    int32_t encryptionSupported;        /* ZpGetOptions gives 1: encryption is available */
    int32_t repairArchive;              /* rebuild a damaged archive from its local headers */
    /* 0: deflate at level 6; '0' to '9' or 1 to 9: that level, level 0 stores.
     * Anything else fails with ZP_BAD_ARGUMENT. */
    uint8_t compressionLevel;
    uint8_t padding[3];
    const char* dateText;      /* mmddyyyy or yyyy-mm-dd, local midnight; null: none */
    const char* rootDirectory; /* folder the names are taken against; null or empty: the
                                  current folder; "\": "/" */
} ZpOptions;

/* How files are deflated in chunks, so that each chunk of an entry inflates
 * alone: the entry's bytes as stored (after any line-end change) are cut
 * where their content says (a gear hash over the bytes since the chunk
 * began, no chunk shorter than minimumChunk unless it is the last, none
 * longer than maximumChunk, averageChunk on average), and each chunk's
 * compressed bytes end byte-aligned with nothing referring back across the
 * boundary (a full flush); the last chunk ends the stream. The entry stays
 * one ordinary deflate stream (method 8, at the options' level) that every
 * reader reads as before. Chunk i's compressed bytes start at the entry's
 * data offset plus the compressed lengths of the chunks before it, and
 * inflate alone with a fresh raw inflater to exactly its uncompressed bytes.
 *
 * A file is chunked when it is added or replaced, its size on disk is at
 * least smallestChunkedFile (and not 0), and its entry is deflated and not
 * encrypted. The callback gets every chunk of every chunked entry written,
 * on the calling thread, in the order of the entries and of their chunks,
 * with the lengths that land in the archive: the entry's compressed lengths
 * add up to its compressed size, its uncompressed lengths to its size.
 * Entries already in the archive that it keeps are not reported.
 *
 * The sizes are usable when 256 <= minimumChunk <= averageChunk <=
 * maximumChunk <= 64 MiB and averageChunk is a power of two; they are
 * looked at only when smallestChunkedFile is not 0. An all-zero record
 * (the state before any ZpSetChunking) chunks nothing. */
typedef struct ZpChunking {
    uint64_t smallestChunkedFile; /* files of at least this many bytes are deflated in
                                     chunks; 0: none is (the default) */
    uint32_t minimumChunk;        /* the chunker's sizes in bytes, as above */
    uint32_t averageChunk;
    uint32_t maximumChunk;
    ZpChunkCallback chunkWritten; /* may be null */
} ZpChunking;

/* ---- Entry points ------------------------------------------------------- */

/* Keeps the callback addresses for the calls that follow. ZP_NULL_POINTER
 * (and the callbacks kept before stay) for a null record. */
ZIP32_API int32_t ZpInit(const ZpCallbacks* callbacks);

/* Keeps a copy of the options, texts included: the caller may free its own
 * copies after the call. ZP_NULL_POINTER for a null record. */
ZIP32_API int32_t ZpSetOptions(const ZpOptions* options);

/* Fills the record with the options kept (all zero before any ZpSetOptions)
 * and encryptionSupported set to 1. Its text pointers point into the
 * library's copies and stay valid until the next ZpSetOptions.
 * ZP_NULL_POINTER for a null record. */
ZIP32_API int32_t ZpGetOptions(ZpOptions* options);

/* Builds or changes archivePath ("\" reads as "/"; a relative path is taken
 * from the current folder) with the nameCount names of the list. A list
 * entry may be null or empty (it is skipped); the list may be null when
 * nameCount is 0. Deleting every entry of an archive removes the archive
 * file. Returns a ZP_* code. */
ZIP32_API int32_t ZpArchive(int32_t nameCount, const char* archivePath, const char* const* names);

/* Keeps the chunking for the ZpArchive calls that follow. ZP_NULL_POINTER
 * for a null record, ZP_BAD_ARGUMENT for sizes the chunker cannot use; the
 * chunking kept before stays after either. */
ZIP32_API int32_t ZpSetChunking(const ZpChunking* chunking);

/* ---- Layout ------------------------------------------------------------- */
ZP_STATIC_ASSERT(sizeof(ZpCallbacks) == 4 * sizeof(void*), "four callback slots");
ZP_STATIC_ASSERT(offsetof(ZpOptions, junkFolderNames) == 48, "junk folder names at 48");
ZP_STATIC_ASSERT(offsetof(ZpOptions, recurseFolders) == 52, "recurse at 52");
ZP_STATIC_ASSERT(offsetof(ZpOptions, repairArchive) == 104, "repair at 104");
ZP_STATIC_ASSERT(offsetof(ZpOptions, compressionLevel) == 108, "level byte at 108");
ZP_STATIC_ASSERT(offsetof(ZpOptions, dateText) == 112, "date text after the padding");
ZP_STATIC_ASSERT(offsetof(ZpOptions, rootDirectory) == 112 + sizeof(void*),
                 "root directory follows the date text");
ZP_STATIC_ASSERT(sizeof(ZpOptions) == 112 + 2 * sizeof(void*), "option record size");
ZP_STATIC_ASSERT(offsetof(ZpChunking, minimumChunk) == 8, "chunk sizes after the threshold");
ZP_STATIC_ASSERT(offsetof(ZpChunking, maximumChunk) == 16, "largest chunk at 16");
ZP_STATIC_ASSERT(offsetof(ZpChunking, chunkWritten) ==
                     (20 + sizeof(void*) - 1) / sizeof(void*) * sizeof(void*),
                 "chunk callback after the sizes, at a pointer's alignment (24 on 64 bits)");
ZP_STATIC_ASSERT(sizeof(ZpChunking) ==
                     (offsetof(ZpChunking, chunkWritten) + sizeof(void*) + 7) / 8 * 8,
                 "chunking record size (32 on 64 bits)");

#ifdef __cplusplus
}
#endif

#endif /* ZIP32_H */
