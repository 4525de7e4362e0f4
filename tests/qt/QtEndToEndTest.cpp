#include "platform/FileSystem.h"
#include "tests/support/LoopbackPublisher.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

// Runs the program and waits for it, a minute at most; its exit status, or
// -1 when it had to be stopped.
int runToEnd(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    for (int waited = 0; waited < 6000; ++waited) {
        if (waitpid(child, &status, WNOHANG) == child) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
}

} // namespace

// The whole update through the real window, in a process of its own so that
// the end of the program can be seen from outside.
TEST(QtEndToEnd, UpdateThroughTheRealWindowEndsTheProgramWithStatusZero) {
    testsupport::TempDir root;
    testsupport::TempDir staging;
    const std::string install = root / "Morvane";
    testsupport::TempDir::makeFolder(install);
    testsupport::writeVersionedExecutable(install + "/morvane.exe", "1.2.0.5");
    testsupport::writeVersionedExecutable(staging / "morvane.exe", "1.3.0.0");
    testsupport::buildPackage(staging / "package.zip",
                              {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"},
                               {"morvane.exe", testsupport::readFile(staging / "morvane.exe")}});
    testsupport::LoopbackPublisher publisher("1.3.0", staging / "package.zip");

    EXPECT_EQ(runToEnd({QT_UPDATE_CHILD, install, publisher.host(), REAL_UNZIP32_FOLDER}), 0);

    EXPECT_EQ(platform::FileSystem().GetFileVersion(install + "/morvane.exe"), "1.3.0.0");
    EXPECT_FALSE(testsupport::exists(install + "/temp"));
    EXPECT_FALSE(testsupport::exists(install + "/NoteError.txt"));
}
