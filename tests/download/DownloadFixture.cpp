#include "DownloadFixture.h"

#include <filesystem>

using updater::frmUpdater;
using updater::UpdaterSettings;

DownloadFixture::DownloadFixture() {
    std::filesystem::create_directory(install / "temp");
}

void DownloadFixture::makeWindow(const std::string& packageHost) {
    m_packageHost = packageHost;
    m_versionServer = std::make_unique<testsupport::LoopbackServer>();
    m_versionServer->server().Get("/clientfiles/morvane/version.php",
                                  [](const httplib::Request&, httplib::Response& res) {
                                      res.set_content("9.9.9", "text/plain");
                                  });
    m_versionServer->start();
    form = std::make_unique<frmUpdater>(
        ui, ui, services,
        UpdaterSettings{install.path(), m_versionServer->host(), packageHost, ""});
    form->Form_Load();
}

void DownloadFixture::download() {
    form->DownloadFile(updater::PublisherAddresses(m_versionServer->host(), m_packageHost).package,
                       form->paths().packageFile());
}

platform::Error DownloadFixture::downloadFailure() {
    try {
        download();
    } catch (const platform::Error& failure) {
        return failure;
    }
    ADD_FAILURE() << "the download did not fail";
    return platform::Error(0, "", "");
}

bool DownloadFixture::runUpdate() {
    ui.answerNext(platform::MsgBoxAnswer::yes);
    try {
        form->cmdDownload_Click();
    } catch (const platform::ProgramEnded&) {
        return true;
    }
    return false;
}

void DownloadFixture::atEveryPump(std::function<void()> action) {
    ui.atEveryPump(std::move(action));
}
