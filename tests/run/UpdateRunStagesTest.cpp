// One run through its own face, without the window: the stages made as the
// window makes them, the network a script, the installation a real folder.
// What the run comes to is checked as values: the check's outcome, whether
// the install landed, the failure's number.
#include "fixtures/WindowlessContext.h"
#include "platform/Error.h"
#include "platform/files/FolderLock.h"
#include "run/UpdateRun.h"
#include "testsupport/CaseName.h"
#include "testsupport/PackageBuilder.h"
#include "testsupport/ScriptedToolkit.h"
#include "testsupport/ScriptedWeb.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include "codemodule/CodeModuleState.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using updater::UpdateRun;

// The parts a window gives a run, over a scripted web.
class RunParts : public ::testing::Test {
protected:
    void SetUp() override {
        CodeModule::setLibraryFolder(REAL_UNZIP32_FOLDER);
        testsupport::writeVersionedExecutable(install / "morvane.exe", "1.2.0.5");
    }

    UpdateRun& run() {
        if (!m_run) {
            m_run = std::make_unique<UpdateRun>(stages, display, log, paths, addresses, context);
        }
        return *m_run;
    }

    void offer(const std::string& answer) { web.serve(addresses.versionAnswer, answer); }
    // Requests to url find no server.
    void unreachable(const std::string& url) {
        web.change = [url](const testsupport::ScriptedRequest& request,
                           testsupport::ScriptedAnswer& answer) {
            if (request.url == url) {
                answer = {};
                answer.failsAfter = 0;
            }
        };
    }
    void servePackage(const std::vector<testsupport::PackageEntry>& entries) {
        const std::string archive = staging / "package.zip";
        testsupport::buildPackage(archive, entries);
        web.serve(addresses.package, testsupport::readFile(archive));
    }

    testsupport::TempDir install;
    testsupport::TempDir staging;
    testsupport::ScriptedWeb web;
    testsupport::ScriptedServices services{web};
    platform::ScriptedToolkit ui;
    WindowlessContext context;
    std::unique_ptr<platform::InternetTransfer> transfer = services.newInternetTransfer();
    updater::InstallationPaths paths{install.path()};
    updater::PublisherAddresses addresses{"versions.test", "packages.test"};
    updater::ErrorLog log{ui, paths.errorLog()};
    updater::RunDisplay display{ui, ui};
    std::vector<std::string> percents;
    updater::UpdateStages stages{
        {context, ui, services, *transfer, log,
         [this](const std::string& percent) { percents.push_back(percent); }},
        updater::UpdaterSettings{install.path(), "versions.test", "packages.test", ""},
        paths,
        addresses};

private:
    std::unique_ptr<UpdateRun> m_run;
};

struct CheckCase {
    const char* name;
    // The version endpoint's answer; nothing: no server answers.
    const char* answer;
    UpdateRun::Check outcome;
};

class RunCheck : public RunParts, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(RunCheck, ComesToTheAnswersOutcome) {
    if (GetParam().answer) {
        offer(GetParam().answer);
    } else {
        unreachable(addresses.versionAnswer);
    }
    EXPECT_EQ(run().check().outcome, GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RunCheck,
    ::testing::Values(CheckCase{"Newer", "1.3.0", UpdateRun::Check::available},
                      CheckCase{"TheInstalledOne", "1.2.5", UpdateRun::Check::latest},
                      CheckCase{"Older", "1.1.0", UpdateRun::Check::latest},
                      CheckCase{"NotThere", nullptr, UpdateRun::Check::unreachable}),
    testsupport::CaseName());

TEST_F(RunParts, AnotherRunsLockMakesItBusyWithoutAsking) {
    const auto held = platform::FolderLock::takeIfFree(install.path(), "test");
    ASSERT_TRUE(held);
    offer("1.3.0");

    EXPECT_EQ(run().check().outcome, UpdateRun::Check::busy);
    EXPECT_TRUE(web.requests().empty());
}

TEST_F(RunParts, TheWholePackageLandsAndTheFinishLeavesNoTempFolder) {
    offer("1.3.0");
    servePackage({{"updater.ini", "MAKEDIR;plugins;APP_PATH\r\n"}});
    ASSERT_EQ(run().check().outcome, UpdateRun::Check::available);

    ASSERT_TRUE(run().install());
    run().finish();

    // Unkeyed: no changed files tried, the whole package installed.
    const UpdateRun::Report& report = run().report();
    EXPECT_EQ(report.check, UpdateRun::Check::available);
    EXPECT_EQ(report.changedFiles, UpdateRun::Report::ChangedFiles::notTried);
    EXPECT_TRUE(report.installed);
    EXPECT_EQ(report.failure, std::nullopt);

    EXPECT_TRUE(testsupport::exists(install / "plugins"));
    EXPECT_FALSE(testsupport::exists(install / "temp"));
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), "100");
    EXPECT_FALSE(testsupport::exists(install / "NoteError.txt"));
}

struct InstallCase {
    const char* name;
    // What the package's address serves; nothing: no server answers.
    std::optional<std::string> package;
    // Whether the user has been told (a box shown, the log written) or the
    // failure was raised by a stage, for the window to tell.
    bool told = true;
};

class RunInstall : public RunParts, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(RunInstall, StopsWithTheInstallationAsItWas) {
    offer("1.3.0");
    if (GetParam().package) {
        web.serve(addresses.package, *GetParam().package);
    } else {
        unreachable(addresses.package);
    }
    ASSERT_EQ(run().check().outcome, UpdateRun::Check::available);

    const updater::Outcome<void> installed = run().install();

    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.failure().told, GetParam().told);
    EXPECT_FALSE(run().report().installed);
    EXPECT_EQ(run().report().failure, installed.failure().error.number());
    if (GetParam().told) {
        EXPECT_TRUE(testsupport::exists(install / "NoteError.txt"));
    }
    EXPECT_FALSE(testsupport::exists(install / "plugins"));
}

INSTANTIATE_TEST_SUITE_P(Packages, RunInstall,
                         ::testing::Values(InstallCase{"NotAZip", "not a zip"},
                                           InstallCase{"NotThere", std::nullopt, false}),
                         testsupport::CaseName());

} // namespace
