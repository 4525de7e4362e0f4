/* A plain C client of the library: includes the public header, loads the
 * library with dlopen, checks the calls that must refuse bad arguments and
 * builds one archive. Exits 0 when everything behaved.
 *
 *   zip32_c_client LIBRARY ARCHIVE ROOT NAME
 */
#include "zip32.h"

#include "testsupport/CClient.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

typedef int32_t (*InitCall)(const ZpCallbacks*);
typedef int32_t (*SetOptionsCall)(const ZpOptions*);
typedef int32_t (*GetOptionsCall)(ZpOptions*);
typedef int32_t (*ArchiveCall)(int32_t, const char*, const char* const*);

int main(int argc, char** argv) {
    if (argc != 5) {
        return failed("usage: zip32_c_client LIBRARY ARCHIVE ROOT NAME");
    }
    void* library = openLibrary(argv[1]);
    if (library == NULL) {
        return 1;
    }
    InitCall init = NULL;
    SetOptionsCall setOptions = NULL;
    GetOptionsCall getOptions = NULL;
    ArchiveCall archive = NULL;
    /* The form POSIX gives for taking a function from dlsym in ISO C. */
    *(void**)&init = dlsym(library, "ZpInit");
    *(void**)&setOptions = dlsym(library, "ZpSetOptions");
    *(void**)&getOptions = dlsym(library, "ZpGetOptions");
    *(void**)&archive = dlsym(library, "ZpArchive");
    if (init == NULL || setOptions == NULL || getOptions == NULL || archive == NULL) {
        return failed("an entry point is missing");
    }
    if (init(NULL) != ZP_NULL_POINTER || setOptions(NULL) != ZP_NULL_POINTER ||
        getOptions(NULL) != ZP_NULL_POINTER) {
        return failed("a null record was accepted");
    }

    ZpCallbacks callbacks;
    memset(&callbacks, 0, sizeof callbacks);
    callbacks.printMessage = printToStandardError;
    if (init(&callbacks) != ZP_OK) {
        return failed("ZpInit failed");
    }
    ZpOptions options;
    memset(&options, 0, sizeof options);
    char root[4096];
    snprintf(root, sizeof root, "%s", argv[3]);
    options.rootDirectory = root;
    options.recurseFolders = 1;
    if (setOptions(&options) != ZP_OK) {
        return failed("ZpSetOptions failed");
    }
    /* The library keeps its own copy of the texts. */
    memset(root, 'x', sizeof root - 1);
    ZpOptions kept;
    if (getOptions(&kept) != ZP_OK || kept.recurseFolders != 1 || kept.encryptionSupported != 1 ||
        kept.rootDirectory == NULL || strcmp(kept.rootDirectory, argv[3]) != 0) {
        return failed("ZpGetOptions did not give back what was set");
    }

    const char* names[2] = {"querty", argv[4]};
    if (archive(-1, argv[2], names) != ZP_BAD_ARGUMENT ||
        archive(2, NULL, names) != ZP_NULL_POINTER ||
        archive(2, argv[2], NULL) != ZP_NULL_POINTER) {
        return failed("a bad argument was accepted");
    }
    const int32_t result = archive(2, argv[2], names);
    if (result != ZP_OK) {
        fprintf(stderr, "c_client: ZpArchive returned %d\n", (int)result);
        return 1;
    }
    return 0;
}
