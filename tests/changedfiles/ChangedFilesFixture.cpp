#include "ChangedFilesFixture.h"

#include "codemodule/CodeModuleState.h"
#include "fixtures/Activation.h"
#include "testsupport/PublishedRelease.h"
#include "testsupport/VersionedExecutable.h"

#include <filesystem>
#include <sys/stat.h>

namespace {

const std::string host = "updates.morvane.test";
const std::string versionUrl = "http://" + host + "/clientfiles/morvane/version.php";

void writeTree(const std::string& folder, const std::map<std::string, std::string>& files) {
    for (const auto& [path, bytes] : files) {
        std::filesystem::create_directories(
            std::filesystem::path(folder + "/" + path).parent_path());
        testsupport::writeFile(folder + "/" + path, bytes);
    }
}

} // namespace

const std::string ChangedFilesRun::packageUrl =
    "http://" + host + "/clientfiles/morvane/morvane.zip";

ChangedFilesRun::ChangedFilesRun()
    : installFolder(root / "Morvane"), releaseFolder(root / "release"), servedFolder(root / "web"),
      key(testsupport::makePublisherKey(root / "key.pem")) {
    testsupport::TempDir::makeFolder(installFolder);
    testsupport::TempDir::makeFolder(releaseFolder);
    CodeModule::setLibraryFolder(REAL_UNZIP32_FOLDER);
}

void ChangedFilesRun::publish(const std::map<std::string, std::string>& files) {
    writeRelease(files);
    publishWritten();
}

void ChangedFilesRun::writeRelease(const std::map<std::string, std::string>& files) {
    testsupport::writeVersionedExecutable(releaseFolder + "/morvane.exe", "1.3.0.2");
    chmod((releaseFolder + "/morvane.exe").c_str(), 0755);
    writeTree(releaseFolder, files);
}

void ChangedFilesRun::publishWritten() {
    testsupport::publishRelease(MORVANE_PUBLISH, key, releaseFolder, "1.3.2", servedFolder);
    web.serve(versionUrl, testsupport::readFile(servedFolder + "/clientfiles/morvane/version.php"));
    m_package = testsupport::readFile(servedFolder + "/clientfiles/morvane/morvane.zip");
    web.serve(packageUrl, m_package);
}

void ChangedFilesRun::install(const std::map<std::string, std::string>& files) {
    testsupport::writeVersionedExecutable(installFolder + "/morvane.exe", "1.3.0.1");
    chmod((installFolder + "/morvane.exe").c_str(), 0755);
    writeTree(installFolder, files);
}

bool ChangedFilesRun::runUpdate() {
    form = std::make_unique<updater::frmUpdater>(
        ui, ui, services, updater::UpdaterSettings{installFolder, host, host, key.publicKeyBase64});
    form->Form_Load();
    ui.answerNext(platform::MsgBoxAnswer::yes);
    return activateUntilEnd(*form);
}

std::string ChangedFilesRun::installed(const std::string& path) const {
    return testsupport::readFile(installFolder + "/" + path);
}

std::string ChangedFilesRun::released(const std::string& path) const {
    return testsupport::readFile(releaseFolder + "/" + path);
}

delta::LocalPackage ChangedFilesRun::package() const {
    return delta::readLocalPackage(servedFolder + "/clientfiles/morvane/morvane.zip");
}

delta::ByteSpan ChangedFilesRun::spanOf(const std::string& entryName) const {
    const delta::LocalPackage local = package();
    const std::size_t index = local.directory.find(entryName);
    EXPECT_LT(index, local.directory.entries.size()) << entryName;
    return local.directory.spans.at(index);
}

bool ChangedFilesRun::wholePackageAsked() const {
    for (const testsupport::ScriptedRequest& request : web.requests()) {
        if (request.url == packageUrl && (!request.first || !request.last)) {
            return true;
        }
    }
    return false;
}
