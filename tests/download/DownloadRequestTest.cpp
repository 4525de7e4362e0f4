#include "DownloadFixture.h"
#include "testsupport/RawHttpServer.h"

#include <cstdio>
#include <filesystem>

namespace {

TEST_F(DownloadFixture, AsksForTheWholeBodyWithTheRangeLineWhetherOrNotAPackageExists) {
    for (bool existing : {false, true}) {
        SCOPED_TRACE(existing);
        testsupport::RawHttpServer server(
            {testsupport::rawResponse("Content-Length: 10\r\n", "0123456789")});
        makeWindow(server.host());
        if (existing) {
            testsupport::writeFile(packagePath(), "old package");
        } else {
            std::remove(packagePath().c_str());
        }

        download();

        ASSERT_EQ(server.requests().size(), 1u);
        EXPECT_EQ(server.requests()[0], "GET /clientfiles/morvane/morvane.zip HTTP/1.1\r\n"
                                        "Host: " +
                                            server.host() +
                                            "\r\n"
                                            "Range: bytes=0-\r\n"
                                            "\r\n");
        EXPECT_EQ(package(), "0123456789");
    }
}

TEST_F(DownloadFixture, ALongerOldPackageIsCutToTheNewOne) {
    testsupport::RawHttpServer server(
        {testsupport::rawResponse("Content-Length: 2500\r\n", std::string(2500, 'n'))});
    makeWindow(server.host());
    testsupport::writeFile(packagePath(), std::string(5000, 'o'));

    download();

    EXPECT_EQ(package(), std::string(2500, 'n'));
}

TEST_F(DownloadFixture, APackageFolderSpeltInAnotherCaseIsFound) {
    testsupport::RawHttpServer server({testsupport::rawResponse("Content-Length: 3\r\n", "abc")});
    makeWindow(server.host());
    std::filesystem::rename(install / "temp", install / "Temp");

    download();

    EXPECT_EQ(testsupport::readFile(install / "Temp/morvane.zip"), "abc");
}

} // namespace
