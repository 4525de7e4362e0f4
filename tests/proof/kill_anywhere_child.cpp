// The program's start, as main does it, with a user who answers Yes, over
// the real services and the real unzip library, for the kill harness; with
// a key (base64; empty for none) it is the updater built with that
// publisher's key. It counts the moments the run can be cut at, phase by
// phase (KillMoments), and kills itself at one with SIGKILL, as the system
// would, saying first where it fell ("killed PHASE MOMENT").
//
//   kill_anywhere_child INSTALL HOST LIBRARY_FOLDER KEY count
//       runs to the end and prints one line per file call, "call PHASE
//       MOMENT KIND PATH [PATH]", then "phase NAME MOMENTS" per phase and
//       "unzip-us MICROS"
//   kill_anywhere_child INSTALL HOST LIBRARY_FOLDER KEY in PHASE N
//       dies at the Nth moment of PHASE (counting from 1), or at the first
//       moment after it should the run leave it earlier
//   kill_anywhere_child INSTALL HOST LIBRARY_FOLDER KEY unzip-us N
//       dies N microseconds after the unpacking has begun
//   kill_anywhere_child INSTALL HOST LIBRARY_FOLDER KEY run
//       runs to the end
//   kill_anywhere_child INSTALL HOST LIBRARY_FOLDER KEY recover
//       only finishes what an earlier update left, as the start does before
//       the version check
//
// A run that ends prints "way changed-files|whole-package|none": how the
// release came. Exit status: 0 when the update run ended the program (or the
// recovery left a whole installation), 4 when it stopped with the window
// open, 5 when the recovery could not make the installation whole, 2 on
// wrong use.

#include "KillMoments.h"
#include "journal/JournalRecovery.h"
#include "run/ErrorLog.h"
#include "run/UpdateRun.h"
#include "run/frmUpdater.h"

#include "codemodule/CodeModuleState.h"
#include "fileio/SystemCalls.h"
#include "platform/SystemServices.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/ScriptedToolkit.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>

using updater::ErrorLog;
using updater::frmUpdater;
using updater::InstallationPaths;
using updater::noteRecovery;
using updater::recoverEarlierUpdate;
using updater::Recovery;
using updater::UpdaterSettings;

namespace {

using Aim = KillMoments::Aim;
using Mode = KillMoments::Mode;

// The scripted user: Yes to the offer, and a moment at every pump.
class CountingToolkit : public platform::ScriptedToolkit {
public:
    void watch(KillMoments& moments) { m_moments = &moments; }
    void doEvents() override {
        ScriptedToolkit::doEvents();
        if (m_moments != nullptr) {
            m_moments->pass("pump", -1);
        }
    }

private:
    KillMoments* m_moments = nullptr;
};

// The path a call names relative to a folder descriptor, as a text to print.
std::string at(int folder, const char* name) {
    return folder == AT_FDCWD || name[0] == '/' ? name
                                                : testsupport::openFilePath(folder) + "/" + name;
}

// Every write, sync and close of the program, and every name it links,
// renames, removes or makes, is a moment, before it is made; every open
// shows the moments which step of the download they are in.
fileio::SystemCalls countedCalls(KillMoments& moments) {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const auto real = fileio::realSystemCalls();
    calls.open = [&moments, real](const char* path, int flags, mode_t mode) {
        moments.opened(path, flags);
        return real.open(path, flags, mode);
    };
    calls.openat = [&moments, real](int folder, const char* name, int flags, mode_t mode) {
        moments.opened(at(folder, name).c_str(), flags);
        return real.openat(folder, name, flags, mode);
    };
    calls.linkat = [&moments, real](int fromFolder, const char* from, int toFolder, const char* to,
                                    int flags) {
        moments.pass("link", -1, at(fromFolder, from).c_str(), at(toFolder, to).c_str());
        return real.linkat(fromFolder, from, toFolder, to, flags);
    };
    calls.renameat = [&moments, real](int fromFolder, const char* from, int toFolder,
                                      const char* to) {
        moments.pass("rename", -1, at(fromFolder, from).c_str(), at(toFolder, to).c_str());
        return real.renameat(fromFolder, from, toFolder, to);
    };
    calls.unlinkat = [&moments, real](int folder, const char* name, int flags) {
        moments.pass("unlink", -1, at(folder, name).c_str());
        return real.unlinkat(folder, name, flags);
    };
    calls.mkdirat = [&moments, real](int folder, const char* name, mode_t mode) {
        moments.pass("mkdir", -1, at(folder, name).c_str());
        return real.mkdirat(folder, name, mode);
    };
    calls.write = [&moments, real](int fd, const void* data, std::size_t size) {
        moments.pass("write", fd);
        return real.write(fd, data, size);
    };
    calls.copyFileRange = [&moments, real](int in, off_t* inOffset, int out, std::size_t size) {
        moments.pass("copy", out);
        return real.copyFileRange(in, inOffset, out, size);
    };
    calls.fsync = [&moments, real](int fd) {
        moments.pass("fsync", fd);
        return real.fsync(fd);
    };
    calls.close = [&moments, real](int fd) {
        moments.pass("close", fd);
        return real.close(fd);
    };
    return calls;
}

bool readAim(int argc, char** argv, Aim& aim) {
    if (argc < 6) {
        return false;
    }
    const std::string mode = argv[5];
    if (mode == "count" || mode == "run" || mode == "recover") {
        aim.mode = mode == "count" ? Mode::count : mode == "run" ? Mode::run : Mode::recover;
        return argc == 6;
    }
    if (mode == "unzip-us" && argc == 7) {
        aim.mode = Mode::unzipDelay;
        aim.value = std::strtol(argv[6], nullptr, 10);
        return true;
    }
    if (mode == "in" && argc == 8) {
        aim.mode = Mode::in;
        aim.phase = argv[6];
        aim.value = std::strtol(argv[7], nullptr, 10);
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    Aim aim;
    if (!readAim(argc, argv, aim)) {
        std::fprintf(stderr,
                     "usage: %s INSTALL HOST LIBRARY_FOLDER KEY "
                     "count|run|recover|in PHASE N|unzip-us N\n",
                     argv[0]);
        return 2;
    }
    CodeModule::setLibraryFolder(argv[3]);
    const std::string key = argv[4];
    CountingToolkit ui;
    KillMoments moments(aim, ui, std::string(argv[1]) + "/temp", !key.empty());
    ui.watch(moments);
    const fileio::ReplacedSystemCalls counted(countedCalls(moments));
    platform::SystemServices services;
    frmUpdater form(ui, ui, services, UpdaterSettings{argv[1], argv[2], argv[2], key});
    if (aim.mode == Mode::recover) {
        // The log keeps the recovery's account for the proof's report.
        const InstallationPaths paths(argv[1]);
        const Recovery recovery = recoverEarlierUpdate(paths, *services.newFileSystem());
        ErrorLog log(ui, paths.errorLog());
        noteRecovery(recovery, log);
        std::_Exit(recovery.outcome == Recovery::Outcome::failed ? 5 : 0);
    }
    ui.answerNext(platform::MsgBoxAnswer::yes);
    form.Form_Load();
    int status = 4;
    try {
        form.Form_Activate();
    } catch (const platform::ProgramEnded&) {
        status = 0;
    }
    moments.report();
    std::fflush(stdout);
    std::_Exit(status);
}
