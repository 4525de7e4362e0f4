#include "fixtures/InstructionFixture.h"
#include "testsupport/CaseName.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testsupport::exists;
using testsupport::readFile;
using testsupport::writeFile;

struct MoveCase {
    const char* name;
    std::string line;
    bool copied;
};

class MoveCommand : public InstructionFixture, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveCommand, SelectsByUpperCasedWordAndKeepsTheNameOperandAsWritten) {
    writeFile(temp("a.dll"), "new");
    run(GetParam().line);
    EXPECT_EQ(exists(app("a.dll")), GetParam().copied);
    EXPECT_TRUE(exists(temp("a.dll"))); // copied, not moved
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MoveCommand,
    ::testing::Values(MoveCase{"Upper", "MOVE;a.dll;APP_PATH", true},
                      MoveCase{"Lower", "move;a.dll;APP_PATH", true},
                      MoveCase{"Mixed", "Move;a.dll;app_path", true},
                      MoveCase{"TrailingSeparator", "MOVE;a.dll;APP_PATH;", true},
                      MoveCase{"ExtraFieldsIgnored", "MOVE;a.dll;APP_PATH;whatever;else", true},
                      MoveCase{"LeadingSpaceSelectsNothing", " MOVE;a.dll;APP_PATH", false},
                      MoveCase{"OtherCaseOfTheUnpackedName", "MOVE;A.DLL;APP_PATH", true}),
    testsupport::CaseName());

TEST_F(InstructionFixture, NameWithALeadingSpaceIsLookedForAsWritten) {
    writeFile(temp("a.dll"), "new");
    run("MOVE; a.dll;APP_PATH");
    EXPECT_FALSE(exists(app("a.dll")));
    ASSERT_EQ(logLines().size(), 1u);
    EXPECT_NE(logLines()[0].find("File not found"), std::string::npos);
}

// Packages built where files carry no execute bit must not leave the
// installed program unrunnable; a file new to the installation takes the
// unpacked file's bits.
TEST_F(InstructionFixture, MoveReplacesAnExistingFileAndKeepsTheExecuteBit) {
    writeFile(app("morvane.exe"), "old");
    chmod(app("morvane.exe").c_str(), 0755);
    writeFile(temp("morvane.exe"), "new");
    chmod(temp("morvane.exe").c_str(), 0644);
    writeFile(temp("tool.sh"), "tool");
    chmod(temp("tool.sh").c_str(), 0750);
    run("MOVE;morvane.exe;APP_PATH\r\nMOVE;tool.sh;APP_PATH\r\n");
    EXPECT_EQ(readFile(app("morvane.exe")), "new");
    EXPECT_EQ(access(app("morvane.exe").c_str(), X_OK), 0);
    EXPECT_EQ(access(app("tool.sh").c_str(), X_OK), 0);
    EXPECT_TRUE(logLines().empty());
}

TEST_F(InstructionFixture, PathFieldFindsAnExistingFolderInAnotherCase) {
    mkdir(app("plugins").c_str(), 0755);
    writeFile(temp("p.so"), "plugin");
    run("MOVE;p.so;APP_PATH\\plugins");
    EXPECT_EQ(readFile(app("plugins/p.so")), "plugin");
    EXPECT_FALSE(isFolder(app("PLUGINS")));
}

TEST_F(InstructionFixture, MakeDirThenMoveWorksButNotTheOtherWayRound) {
    writeFile(temp("x.dat"), "x");
    run("MAKEDIR;data;APP_PATH\r\nMOVE;x.dat;APP_PATH\\data\r\n");
    EXPECT_EQ(readFile(app("data/x.dat")), "x");
    EXPECT_TRUE(logLines().empty());

    run("MOVE;x.dat;APP_PATH\\later\r\nMAKEDIR;later;APP_PATH\r\n");
    EXPECT_FALSE(isFolder(app("later")));
    EXPECT_FALSE(isFolder(app("LATER")));
    EXPECT_EQ(logLines().size(), 1u);
}

TEST_F(InstructionFixture, MakeDirOnAnExistingFolderDoesNothing) {
    mkdir(app("data").c_str(), 0755);
    writeFile(app("data/keep.txt"), "kept");
    run("MAKEDIR;data;APP_PATH");
    EXPECT_EQ(readFile(app("data/keep.txt")), "kept");
    EXPECT_TRUE(logLines().empty());
}

struct FailureCase {
    const char* name;
    std::string failingLine;
    std::string description; // part of the logged text
};

class FailingLine : public InstructionFixture, public ::testing::WithParamInterface<FailureCase> {};

// The lines before a failing one are undone before the failure is shown; a
// second line in the log says so, with no box of its own.
TEST_P(FailingLine, StopsThereAndUndoesEarlierLinesBeforeItReports) {
    writeFile(temp("a.dll"), "a");
    run("MAKEDIR;before;APP_PATH\r\n" + GetParam().failingLine + "\r\nMAKEDIR;after;APP_PATH\r\n");
    EXPECT_FALSE(isFolder(app("before")));
    EXPECT_FALSE(isFolder(app("after")));
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("\"", 0), 0u);
    EXPECT_NE(lines[0].find(",\"Updater "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(GetParam().description), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(",\"Updater the installation was restored as it was: 0 files "
                            "restored, 0 added files and 1 added folder removed\""),
              std::string::npos)
        << lines[1];
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    EXPECT_EQ(ui.messageBoxes()[0].title, "Updater");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FailingLine,
    ::testing::Values(FailureCase{"MissingSource", "MOVE;b.dll;APP_PATH", "File not found"},
                      FailureCase{"MissingDestination", "MOVE;a.dll;APP_PATH\\nowhere",
                                  "Path not found"},
                      FailureCase{"MissingParent", "MAKEDIR;x;APP_PATH\\nowhere", "Path not found"},
                      FailureCase{"TooFewFields", "MAKEDIR;x", "Subscript out of range"},
                      // An empty path field would name the root folder.
                      FailureCase{"EmptyMoveDestination", "MOVE;a.dll;", "empty path field"},
                      FailureCase{"EmptyMakeDirParent", "MAKEDIR;x;;", "empty path field"},
                      // A NUL byte would end the path early, naming another
                      // folder, outside the installation here.
                      FailureCase{"NulByteInAPath", std::string("MAKEDIR;x;APP_PATH\0/../y", 25),
                                  "has a NUL byte in a path"},
                      // The run's own journal is no place to install to.
                      FailureCase{"IntoTheJournal", "MOVE;a.dll;APP_PATH\\.Updater-Journal",
                                  "lies in the update's own journal"},
                      // The temp folder is deleted after the update, in any
                      // letter case and however the path reaches it.
                      FailureCase{"IntoTheTempFolder", "MOVE;a.dll;APP_PATH\\Temp",
                                  "would install into the updater's own temp folder"},
                      FailureCase{"FolderInsideTheTempFolder", "MAKEDIR;x;APP_PATH\\TEMP\\.",
                                  "would install into the updater's own temp folder"},
                      FailureCase{"TempFolderReachedBack", "MAKEDIR;temp;APP_PATH\\before\\..",
                                  "would install into the updater's own temp folder"}),
    testsupport::CaseName());

// The source is the temp folder, "\" and the name as written: a package may
// keep a copy of an installed file before it replaces it ("..\" reaches
// the installation), a leading "\" still names a file in temp, an absolute
// path names one below temp, a pattern in the last component copies every
// match; a NUL byte, which would cut the name short, names nothing.
TEST_F(InstructionFixture, MoveTakesItsSourceAsTheTempFolderAndTheNameWritten) {
    struct Case {
        std::string source;
        std::string copied; // what lands in data/, empty: nothing, logged
        std::string name;
    };
    const Case cases[] = {
        {"..\\morvane.exe", "installed", "morvane.exe"},
        {"../morvane.exe", "installed", "morvane.exe"},
        {"sub\\..\\a.dll", "a", "a.dll"},
        {"\\a.dll", "a", "a.dll"},
        {"*.dll", "b", "b.dll"},
        {app("morvane.exe"), "", "morvane.exe"},
        {std::string("a.dll\0.txt", 9), "", "a.dll"},
    };
    writeFile(app("morvane.exe"), "installed");
    writeFile(temp("a.dll"), "a");
    writeFile(temp("b.dll"), "b");
    mkdir(temp("sub").c_str(), 0755);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        std::filesystem::remove_all(app("data"));
        std::filesystem::remove_all(app("NoteError.txt"));
        std::filesystem::remove_all(app(".updater-journal"));
        run("MAKEDIR;data;APP_PATH\r\nMOVE;" + c.source + ";APP_PATH\\DATA\r\n");
        if (c.copied.empty()) {
            EXPECT_FALSE(exists(app("data/" + c.name)));
            EXPECT_EQ(logLines().size(), 2u); // the failure, and the folder taken back
        } else {
            EXPECT_EQ(readFile(app("data/" + c.name)), c.copied);
            EXPECT_TRUE(logLines().empty());
        }
    }
    EXPECT_EQ(readFile(app("morvane.exe")), "installed");
}

TEST_F(InstructionFixture, MoveOverAReadOnlyFileFailsAndLeavesItIntact) {
    writeFile(app("a.dll"), "old");
    chmod(app("a.dll").c_str(), 0444);
    writeFile(temp("a.dll"), "new");
    run("MOVE;a.dll;APP_PATH");
    EXPECT_EQ(readFile(app("a.dll")), "old");
    ASSERT_EQ(logLines().size(), 1u);
    EXPECT_NE(logLines()[0].find("Permission denied"), std::string::npos);
}

TEST_F(InstructionFixture, MoveOverARunningExecutableLeavesTheProcessUnharmed) {
    ASSERT_EQ(system(("cp /bin/sleep '" + app("tool") + "'").c_str()), 0);
    const pid_t running = fork();
    if (running == 0) {
        execl(app("tool").c_str(), "tool", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Give the child the moment it needs to be running the old file.
    for (int i = 0; i < 200 && readFile("/proc/" + std::to_string(running) + "/comm") != "tool\n";
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    writeFile(temp("tool"), "#!/bin/sh\nexit 0\n");
    run("MOVE;tool;APP_PATH");

    EXPECT_TRUE(logLines().empty());
    EXPECT_EQ(readFile(app("tool")), "#!/bin/sh\nexit 0\n");
    int status = 0;
    EXPECT_EQ(waitpid(running, &status, WNOHANG), 0); // still running
    kill(running, SIGKILL);
    waitpid(running, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
}

// EXEC hands the file to the shell with the installation folder as working
// folder, wherever the file lies; one that cannot be opened, or a line that
// names no folder, is no failure.
TEST_F(InstructionFixture, ExecHandsTheFileToTheShellInTheInstallationFolder) {
    mkdir(app("tools").c_str(), 0755);
    writeFile(app("tools/setup.sh"), "#!/bin/sh\n");

    run("EXEC;APP_PATH\\TOOLS;setup.sh\r\nEXEC;APP_PATH;missing.exe\r\nEXEC;;setup.sh\r\n"
        "MAKEDIR;after;APP_PATH");

    EXPECT_EQ(services.recordingShell.opened,
              (std::vector<RecordingShell::Opened>{{app("tools/setup.sh"), installFolder},
                                                   {app("missing.exe"), installFolder}}));
    EXPECT_TRUE(isFolder(app("after")));
    EXPECT_TRUE(logLines().empty());
}
