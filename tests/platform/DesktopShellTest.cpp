#include "platform/shell/DesktopShell.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>
#include <thread>

// The started program runs on its own, in the working folder given, with
// its name as it was handed over; the caller does not wait for it.
TEST(DesktopShell, StartsAnExecutableDetachedInTheWorkingFolder) {
    const testsupport::TempDir root;
    testsupport::TempDir::makeFolder(root / "tools");
    const std::string script = root / "tools/setup.sh";
    testsupport::writeFile(script, "#!/bin/sh\npwd > \"$PWD/started.txt.part\"\n"
                                   "echo \"$0\" >> \"$PWD/started.txt.part\"\n"
                                   "mv \"$PWD/started.txt.part\" \"$PWD/started.txt\"\n");
    chmod(script.c_str(), 0755);

    platform::DesktopShell().open(script, root.path());
    platform::DesktopShell().open(root / "missing.exe", root.path());

    for (int i = 0; i < 500 && !testsupport::exists(root / "started.txt"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(testsupport::readFile(root / "started.txt"), root.path() + "\n" + script + "\n");
}
