// Two runs of one window against a published release: what one run found
// (why the changed files alone were not enough) is never logged by the next.
#include "PublisherRun.h"

#include "codemodule/CodeModuleState.h"
#include "fixtures/Activation.h"
#include "platform/SystemServices.h"
#include "run/frmUpdater.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/PythonHttpServer.h"
#include "testsupport/ScriptedToolkit.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <sys/stat.h>

namespace {

using platform::MsgBoxAnswer;
using testsupport::readFile;
using Report = updater::UpdateRun::Report;

TEST(RunReasons, AFallbackIsLoggedOnlyByTheRunThatMadeIt) {
    testsupport::TempDir release;
    testsupport::TempDir web;
    testsupport::TempDir install;
    testsupport::TempDir scratch;
    const auto key = testsupport::makePublisherKey(scratch / "key.pem");
    testsupport::writeVersionedExecutable(release / "morvane.exe", "1.3.0.0");
    ASSERT_EQ(runPublisher({"--key", key.privateKeyFile, release.path(), "1.3.0", web.path()},
                           scratch / "publish.out")
                  .status,
              0);
    // A read-only installed program: the instruction file stops the first
    // run after the whole package came.
    testsupport::writeVersionedExecutable(install / "morvane.exe", "1.2.0.5");
    chmod((install / "morvane.exe").c_str(), 0444);
    // A server without ranges: the changed files alone cannot be fetched.
    testsupport::PythonHttpServer server(web.path());
    CodeModule::setLibraryFolder(REAL_UNZIP32_FOLDER);
    platform::ScriptedToolkit ui;
    platform::SystemServices services;
    updater::frmUpdater form(ui, ui, services,
                             updater::UpdaterSettings{install.path(), server.host(), server.host(),
                                                      key.publicKeyBase64});
    form.Form_Load();
    ui.answerNext(MsgBoxAnswer::yes);

    EXPECT_FALSE(activateUntilEnd(form));
    const std::string first = readFile(install / "NoteError.txt");
    EXPECT_NE(first.find("Permission denied"), std::string::npos) << first;
    EXPECT_EQ(form.lastRun().changedFiles, Report::ChangedFiles::fellBack);
    EXPECT_EQ(form.lastRun().fallback, updater::FetchFailureKind::rangesRefused);
    EXPECT_EQ(ui.lblMessage().caption(), "The update did not complete");

    // The next answer names no manifest, and its package is gone: the
    // second run fails on the whole package alone.
    const std::string served = web / "clientfiles/morvane/morvane.zip";
    const auto identity = signature::identifyPackage(served);
    testsupport::writeFile(
        web / "clientfiles/morvane/version.php",
        "1.3.0\r\n" + signature::formatReleaseLine(signature::signRelease(
                          "1.3.0", identity.size, identity.sha512, std::time(nullptr) + 3600,
                          signature::SigningKey::fromFile(key.privateKeyFile))));
    std::filesystem::remove(served);
    ui.answerNext(MsgBoxAnswer::yes);
    form.cmdDownload_Click();

    const std::string second = readFile(install / "NoteError.txt").substr(first.size());
    EXPECT_NE(second.find("\"Updater: Download "), std::string::npos) << second;
    EXPECT_EQ(second.find("fetching only the files that changed"), std::string::npos) << second;
    EXPECT_EQ(form.lastRun().changedFiles, Report::ChangedFiles::notTried);
    EXPECT_FALSE(form.lastRun().installed);
    EXPECT_EQ(ui.lblMessage().caption(), "The update did not complete");
}

} // namespace
