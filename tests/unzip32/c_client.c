/* A plain C client of the library: includes the public header, loads the
 * library with dlopen and runs one extraction, after checking the calls that
 * must refuse bad arguments. Exits 0 when everything behaved.
 *
 *   unzip32_c_client LIBRARY ARCHIVE FOLDER
 */
#include "unzip32.h"

#include "testsupport/CClient.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

typedef int32_t (*VersionCall)(UzpVersionRecord*);
typedef int32_t (*UnzipCall)(int32_t, const char* const*, int32_t, const char* const*,
                             const UzpOptions*, UzpCallbacks*);

int main(int argc, char** argv) {
    if (argc != 4) {
        return failed("usage: unzip32_c_client LIBRARY ARCHIVE FOLDER");
    }
    void* library = openLibrary(argv[1]);
    if (library == NULL) {
        return 1;
    }
    VersionCall version = NULL;
    UnzipCall unzip = NULL;
    /* The form POSIX gives for taking a function from dlsym in ISO C. */
    *(void**)&version = dlsym(library, "UzpVersion2");
    *(void**)&unzip = dlsym(library, "Wiz_SingleEntryUnzip");
    if (version == NULL || unzip == NULL) {
        return failed("an entry point is missing");
    }

    UzpVersionRecord record;
    memset(&record, ' ', sizeof record);
    record.structureLength = 60;
    if (version(&record) != UZP_BAD_RECORD_LENGTH) {
        return failed("a wrong record length was accepted");
    }
    record.structureLength = sizeof record;
    if (version(&record) != UZP_OK || record.libraryVersion.major < 1 ||
        memchr(record.compressionLibraryVersion, '\0', sizeof record.compressionLibraryVersion) ==
            NULL) {
        return failed("the version record was not filled in");
    }
    if (version(NULL) != UZP_NULL_POINTER) {
        return failed("a null version record was accepted");
    }

    UzpOptions options;
    UzpCallbacks callbacks;
    memset(&options, 0, sizeof options);
    memset(&callbacks, 0, sizeof callbacks);
    callbacks.printMessage = printToStandardError;
    options.honorDirectories = 1;
    options.overwriteExisting = 1;
    options.quietLevel = 1;
    if (unzip(0, NULL, 0, NULL, &options, &callbacks) != UZP_NULL_POINTER) {
        return failed("a null archive path was accepted");
    }
    if (unzip(0, NULL, 0, NULL, NULL, &callbacks) != UZP_NULL_POINTER ||
        unzip(0, NULL, 0, NULL, &options, NULL) != UZP_NULL_POINTER) {
        return failed("a null record was accepted");
    }
    options.archivePath = argv[2];
    options.extractionFolder = argv[3];
    if (unzip(0, NULL, 0, NULL, &options, &callbacks) != UZP_OK) {
        return failed("the extraction failed");
    }
    if (callbacks.entriesProcessed == 0) {
        return failed("no entry was counted");
    }
    return 0;
}
