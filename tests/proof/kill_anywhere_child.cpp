// The program's start, as main does it, with a user who answers Yes, over
// the real services and the real unzip library, for the kill harness. It
// counts the moments the run can be cut at: every pump of the window and
// every system call of file writing in the program. Given a moment, it
// kills itself there with SIGKILL, as the system would.
//
//   kill_anywhere_child INSTALL HOST LIBRARY_FOLDER count
//       runs to the end and prints one line per stage and per file call:
//       "stage NAME FIRST LAST", "call INDEX STAGE KIND PATH [PATH]",
//       "unzip-us MICROS"
//   kill_anywhere_child INSTALL HOST LIBRARY_FOLDER at N
//       dies at moment N (counting from 1)
//   kill_anywhere_child INSTALL HOST LIBRARY_FOLDER unzip-us N
//       dies N microseconds after the unpacking has begun
//   kill_anywhere_child INSTALL HOST LIBRARY_FOLDER run
//       runs to the end
//   kill_anywhere_child INSTALL HOST LIBRARY_FOLDER recover
//       only finishes what an earlier update left, as the start does before
//       the version check
//
// Exit status: 0 when the update run ended the program (or the recovery
// left a whole installation), 4 when it stopped with the window open, 5
// when the recovery could not make the installation whole, 2 on wrong use.

#include "app/frmUpdater.h"
#include "codemodule/CodeModuleState.h"
#include "fileio/SystemCalls.h"
#include "platform/SystemServices.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/ScriptedToolkit.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>

using updater::frmUpdater;
using updater::UpdaterSettings;

namespace {

enum class Mode { count, at, unzipDelay, run, recover };

struct Plan {
    Mode mode = Mode::run;
    long value = 0;
};

[[noreturn]] void die() {
    ::kill(::getpid(), SIGKILL);
    std::abort();
}

// Counts moments and names the stage each falls in, by the status line.
class Moments {
public:
    Moments(Plan plan, platform::UpdaterControls& controls) : m_plan(plan), m_controls(controls) {}

    // A moment: a pump (no path), or a call on a file or on names.
    void pass(const char* call, int fd, const char* path = nullptr, const char* other = nullptr) {
        ++m_count;
        const std::string stage = stageName();
        if (m_plan.mode == Mode::at && m_count == m_plan.value) {
            die();
        }
        if (m_plan.mode == Mode::count) {
            auto [found, added] = m_stages.try_emplace(stage, m_count, m_count);
            found->second.second = m_count;
            if (fd >= 0 || path != nullptr) {
                std::printf("call %ld %s %s %s%s%s\n", m_count, stage.c_str(), call,
                            path != nullptr ? path : testsupport::openFilePath(fd).c_str(),
                            other != nullptr ? " " : "", other != nullptr ? other : "");
            }
        }
        if (stage != m_stage) {
            stageBegins(stage);
        }
    }

    void report() const {
        for (const auto& [stage, range] : m_stages) {
            std::printf("stage %s %ld %ld\n", stage.c_str(), range.first, range.second);
        }
        std::printf("unzip-us %ld\n", m_unzipMicros);
    }

private:
    std::string stageName() const {
        const std::string caption = m_controls.lblMessage().caption();
        if (caption.empty()) {
            return "version-check";
        }
        if (caption == "Downloading...") {
            return "download";
        }
        if (caption == "Extracting Files") {
            return "unpacking";
        }
        if (caption == "Procesing Updates") {
            return "instructions";
        }
        return "end";
    }

    void stageBegins(const std::string& stage) {
        const auto now = std::chrono::steady_clock::now();
        if (m_stage == "unpacking") {
            m_unzipMicros =
                std::chrono::duration_cast<std::chrono::microseconds>(now - m_unzipStart).count();
        }
        m_stage = stage;
        if (stage != "unpacking") {
            return;
        }
        m_unzipStart = now;
        if (m_plan.mode == Mode::unzipDelay) {
            std::thread([delay = m_plan.value] {
                std::this_thread::sleep_for(std::chrono::microseconds(delay));
                die();
            }).detach();
        }
    }

    Plan m_plan;
    platform::UpdaterControls& m_controls;
    long m_count = 0;
    std::string m_stage = "version-check";
    std::map<std::string, std::pair<long, long>> m_stages;
    std::chrono::steady_clock::time_point m_unzipStart;
    long m_unzipMicros = 0;
};

// The scripted user: Yes to the offer, and a moment at every pump.
class CountingToolkit : public platform::ScriptedToolkit {
public:
    void watch(Moments& moments) { m_moments = &moments; }
    void doEvents() override {
        ScriptedToolkit::doEvents();
        if (m_moments != nullptr) {
            m_moments->pass("pump", -1);
        }
    }

private:
    Moments* m_moments = nullptr;
};

// The path a call names relative to a folder descriptor, as a text to print.
std::string at(int folder, const char* name) {
    return folder == AT_FDCWD || name[0] == '/' ? name
                                                : testsupport::openFilePath(folder) + "/" + name;
}

// Every write, sync and close of the program, and every name it links,
// renames, removes or makes, is a moment, before it is made.
fileio::SystemCalls countedCalls(Moments& moments) {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const auto real = fileio::realSystemCalls();
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

bool readPlan(int argc, char** argv, Plan& plan) {
    if (argc < 5) {
        return false;
    }
    const std::string mode = argv[4];
    if (mode == "count" || mode == "run" || mode == "recover") {
        plan.mode = mode == "count" ? Mode::count : mode == "run" ? Mode::run : Mode::recover;
        return argc == 5;
    }
    if (argc != 6 || (mode != "at" && mode != "unzip-us")) {
        return false;
    }
    plan.mode = mode == "at" ? Mode::at : Mode::unzipDelay;
    plan.value = std::strtol(argv[5], nullptr, 10);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Plan plan;
    if (!readPlan(argc, argv, plan)) {
        std::fprintf(stderr,
                     "usage: %s INSTALL HOST LIBRARY_FOLDER count|run|recover|at N|unzip-us N\n",
                     argv[0]);
        return 2;
    }
    CodeModule::setLibraryFolder(argv[3]);
    CountingToolkit ui;
    Moments moments(plan, ui);
    ui.watch(moments);
    const fileio::ReplacedSystemCalls counted(countedCalls(moments));
    platform::SystemServices services;
    frmUpdater form(ui, ui, services, UpdaterSettings{argv[1], argv[2], argv[2], ""});
    if (plan.mode == Mode::recover) {
        std::_Exit(form.finishEarlierUpdate() ? 0 : 5);
    }
    ui.answerNext(platform::MsgBoxAnswer::yes);
    form.Form_Load();
    int status = 4;
    try {
        form.Form_Activate();
    } catch (const platform::ProgramEnded&) {
        status = 0;
    }
    if (plan.mode == Mode::count) {
        moments.report();
    }
    std::fflush(stdout);
    std::_Exit(status);
}
