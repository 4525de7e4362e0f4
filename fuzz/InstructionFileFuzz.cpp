// The instruction file as a package could bring it: read line by line and
// carried out with its changes journalled, against a file system held in a
// sandbox folder and a shell that starts nothing. Failures are the file's;
// a crash, a sanitizer report, an effect outside the sandbox, or a failed
// file whose rollback does not give back exactly the installation it began
// with is a finding.

#include "SandboxFileSystem.h"
#include "fileio/SystemCalls.h"
#include "fixtures/RecordingShell.h"
#include "fixtures/WindowlessContext.h"
#include "journal/UpdateJournal.h"
#include "run/InstructionFile.h"
#include "testsupport/TreeSnapshot.h"

#include "FuzzSandbox.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using updater::InstallationPaths;
using updater::InstructionReader;
using updater::Restoration;
using updater::UpdateCommands;
using updater::UpdateJournal;

namespace {

const std::string& sandbox() {
    return fuzzSandbox("instruction-fuzz");
}

void writeFile(const std::string& path, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        std::abort(); // the sandbox lies in memory: the fresh installation must be whole
    }
    close(fd);
}

// An installation with a package unpacked into its temp folder, where the
// last execution's was.
InstallationPaths freshInstallation(const uint8_t* data, size_t size) {
    const std::string install = sandbox() + "/Morvane";
    clearFolder(install);
    mkdir((install + "/temp").c_str(), 0777);
    mkdir((install + "/plugins").c_str(), 0777);
    writeFile(install + "/morvane.exe", "old application");
    writeFile(install + "/temp/morvane.exe", "new application");
    writeFile(install + "/temp/Viewer.so", "plugin");
    writeFile(install + "/temp/a b.txt", "spaced");
    writeFile(install + "/temp/updater.ini",
              std::string(reinterpret_cast<const char*>(data), size));
    return InstallationPaths(install);
}

// The journal's syncs wait for the disk; what is fuzzed here is what it
// records and undoes, not when the disk has it.
fileio::SystemCalls withoutSyncs() {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    calls.fsync = [](int) { return 0; };
    return calls;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fileio::ReplacedSystemCalls quick(withoutSyncs());
    const InstallationPaths paths = freshInstallation(data, size);
    const testsupport::TreeSnapshot before = testsupport::snapshotTree(paths.folder());
    SandboxFileSystem files(sandbox());
    RecordingShell shell;
    WindowlessContext context(files);
    UpdateCommands commands(paths, context, shell);
    UpdateJournal journal(paths.folder());
    files.setChangeJournal(&journal);
    try {
        InstructionReader reader(paths.instructionFile());
        for (std::string line; reader.next(line);) {
            commands.run(line);
        }
        files.setChangeJournal(nullptr);
        journal.commit();
        journal.removeKept();
        journal.remove();
    } catch (const std::exception&) {
        // The file stopped on a failure, as the window would log it; the
        // installation must be exactly as it was.
        files.setChangeJournal(nullptr);
        const Restoration restoration = journal.rollBack();
        const std::string differences =
            testsupport::treeDifferences(before, testsupport::snapshotTree(paths.folder()));
        if (!restoration.whole() || !differences.empty()) {
            std::fprintf(stderr, "not restored: %s\n%s", restoration.failure.c_str(),
                         differences.c_str());
            std::abort();
        }
    }
    return 0;
}
