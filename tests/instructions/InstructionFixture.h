#pragma once

#include "app/frmUpdater.h"
#include "platform/SystemServices.h"
#include "tests/fixtures/RecordingShell.h"
#include "tests/support/ScriptedToolkit.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

// The real services, but a shell that only records what it was asked to
// open.
class InstructionServices : public platform::SystemServices {
public:
    platform::Shell& shell() override { return recordingShell; }
    RecordingShell recordingShell;
};

// An installation folder with a temp folder, and the real window's
// instruction-file stage over the scripted toolkit.
class InstructionFixture : public ::testing::Test {
protected:
    InstructionFixture()
        : installFolder(root / "Morvane App"),
          form(ui, ui, services,
               updater::UpdaterSettings{installFolder, "version.invalid", "packages.invalid", ""}) {
        mkdir(installFolder.c_str(), 0755);
        mkdir(temp("").c_str(), 0755);
    }

    std::string temp(const std::string& name) const { return installFolder + "/temp/" + name; }
    std::string app(const std::string& name) const { return installFolder + "/" + name; }

    // Writes updater.ini and carries it out.
    void run(const std::string& instructions) {
        testsupport::writeFile(temp("updater.ini"), instructions);
        form.processExtract();
    }

    // The lines of the error log.
    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        const std::string log = testsupport::readFile(app("NoteError.txt"));
        std::size_t start = 0;
        for (std::size_t at; (at = log.find("\r\n", start)) != std::string::npos; start = at + 2) {
            lines.push_back(log.substr(start, at - start));
        }
        return lines;
    }

    bool isFolder(const std::string& path) const {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    testsupport::TempDir root;
    std::string installFolder;
    platform::ScriptedToolkit ui;
    InstructionServices services;
    updater::frmUpdater form;
};
