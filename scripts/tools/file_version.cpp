// Prints the file version the updater reads from an executable, so that the
// run script can show the installation before and after an update.

#include "platform/Error.h"
#include "platform/files/DiskFileSystem.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: file_version FILE\n");
        return 2;
    }
    try {
        const std::string version = platform::DiskFileSystem().GetFileVersion(argv[1]);
        std::printf("%s\n", version.empty() ? "(no version)" : version.c_str());
    } catch (const platform::Error& failure) {
        std::fprintf(stderr, "file_version: %s\n", failure.description().c_str());
        return 1;
    }
    return 0;
}
