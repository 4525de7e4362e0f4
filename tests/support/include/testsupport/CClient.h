/* What the plain C clients of the two libraries share: messages to standard
 * error, a failure line, and loading a library by path. */
#ifndef TESTS_SUPPORT_CCLIENT_H
#define TESTS_SUPPORT_CCLIENT_H

#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>

/* A message callback: the text goes to standard error as it is. */
static int32_t printToStandardError(const char* text, uint32_t length) {
    fwrite(text, 1, length, stderr);
    return 0;
}

static int failed(const char* what) {
    fprintf(stderr, "c_client: %s\n", what);
    return 1;
}

/* The library at path, or null after saying why. */
static void* openLibrary(const char* path) {
    void* library = dlopen(path, RTLD_NOW);
    if (library == NULL) {
        failed(dlerror());
    }
    return library;
}

#endif /* TESTS_SUPPORT_CCLIENT_H */
