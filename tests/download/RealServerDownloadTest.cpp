#include "DownloadFixture.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/PythonHttpServer.h"

#include <algorithm>
#include <filesystem>

namespace {

// A publisher's document root holding a package of 300001 bytes.
class RealServerDownload : public DownloadFixture {
protected:
    RealServerDownload() {
        std::filesystem::create_directories(m_root / "clientfiles/morvane");
        testsupport::writeFile(m_root / "clientfiles/morvane/morvane.zip", m_package);
    }

    const std::string& root() const { return m_root.path(); }

    void downloadEveryByteFrom(const std::string& host) {
        makeWindow(host);
        download();
        EXPECT_TRUE(package() == published());
        EXPECT_EQ(ui.barValues().back(), 100);
    }
    const std::string& published() const { return m_package; }

private:
    testsupport::TempDir m_root;
    std::string m_package = testsupport::patternedBytes(300001);
};

TEST_F(RealServerDownload, NginxAnswersTheRangeWith206AndDeliversEveryByte) {
    testsupport::NginxServer nginx(root());
    downloadEveryByteFrom(nginx.host());
    nginx.stop();
    EXPECT_EQ(nginx.accessLog(), "206 300001 \"bytes=0-\"\n");
}

TEST_F(RealServerDownload, PythonIgnoresTheRangeWith200AndDeliversEveryByte) {
    testsupport::PythonHttpServer python(root());
    downloadEveryByteFrom(python.host());
    python.stop();
    EXPECT_NE(python.log().find("morvane.zip HTTP/1.1\" 200"), std::string::npos) << python.log();
}

// The run hands the whole package on to unpacking; these bytes are no zip,
// so the run stops there and keeps the temp folder with the package in it.
TEST_F(RealServerDownload, AnUpdateRunHandsTheWholePackageOnToUnpacking) {
    testsupport::NginxServer nginx(root());
    makeWindow(nginx.host());

    EXPECT_FALSE(runUpdate());

    EXPECT_TRUE(package() == published());
    const auto& bar = ui.barValues();
    EXPECT_EQ(bar.front(), 0); // the run resets the bar before the download
    EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end()));
    EXPECT_EQ(bar.size(), 1 + 300001 / 1024 + 2);
    EXPECT_EQ(ui.captions(), (std::vector<std::string>{"Downloading...", "Extracting Files",
                                                       "The update did not complete"}));
}

} // namespace
