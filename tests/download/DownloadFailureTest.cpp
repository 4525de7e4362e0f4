#include "DownloadFixture.h"
#include "platform/http/InternetTransfer.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/RawHttpServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <curl/curl.h>
#include <filesystem>
#include <unistd.h>

namespace {

using platform::ErrorNumber;
using testsupport::patternedBytes;

struct FramingCase {
    const char* name;
    std::string headers;
    std::size_t bodySize;
    int32_t number;
    std::size_t written; // bytes in the package file when the download fails
};

// Chunked bodies let Content-Length say something else than the body.
TEST_F(DownloadFixture, LengthAndBodyThatDisagreeFail) {
    const FramingCase cases[] = {
        // The transfer itself refuses a length that is no number.
        {"a length that is no number", "Content-Length: many\r\n", 3000,
         ErrorNumber::objectDefinedBase + CURLE_WEIRD_SERVER_REPLY, 0},
        {"more bytes than announced", "Content-Length: 1000\r\n", 3000,
         ErrorNumber::invalidPropertyValue, 1024},
        {"fewer bytes than announced", "Content-Length: 5000\r\n", 3000,
         platform::InternetTransfer::incompleteBody, 3000},
        // A length no disk here holds is said so before anything is counted.
        {"a length past 63 bits", "Content-Length: 10000000000000000000\r\n", 3000,
         ErrorNumber::diskFull, 0},
        {"a length past the disk", "Content-Length: 1000000000000000\r\n", 3000,
         ErrorNumber::diskFull, 0},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string body = patternedBytes(c.bodySize);
        testsupport::RawHttpServer server({testsupport::rawResponse(
            "Transfer-Encoding: chunked\r\n" + c.headers, testsupport::chunked(body, 700))});
        makeWindow(server.host());
        std::remove(packagePath().c_str());

        const platform::Error failure = downloadFailure();

        EXPECT_EQ(failure.number(), c.number) << failure.description();
        EXPECT_FALSE(failure.description().empty());
        if (c.number == ErrorNumber::diskFull) {
            EXPECT_EQ(failure.description().rfind("the package the server announces needs ", 0), 0u)
                << failure.description();
            EXPECT_NE(failure.description().find(", more than the disk that holds "),
                      std::string::npos);
        }
        EXPECT_TRUE(package() == body.substr(0, c.written));
    }
}

// An answer of no bytes, said so or not, is a package of no bytes: taken as
// it came (unpacking then finds it is no zip), not a division by its length.
TEST_F(DownloadFixture, AnEmptyBodyIsAnEmptyPackageWithOrWithoutALength) {
    const std::pair<const char*, std::string> replies[] = {
        {"a length of zero", testsupport::rawResponse("Content-Length: 0\r\n", "")},
        {"no length, the body ends with the connection", testsupport::rawResponse("", "")},
        {"no length, no chunk",
         testsupport::rawResponse("Transfer-Encoding: chunked\r\n", testsupport::chunked("", 1))},
    };
    for (const auto& [name, reply] : replies) {
        SCOPED_TRACE(name);
        testsupport::RawHttpServer server({reply});
        makeWindow(server.host());
        std::remove(packagePath().c_str());

        EXPECT_NO_THROW(download());

        EXPECT_TRUE(testsupport::exists(packagePath()));
        EXPECT_EQ(package(), "");
    }
}

TEST_F(DownloadFixture, AFullDiskStopsTheDownloadKeepingWhatFit) {
    const std::string body = patternedBytes(10000);
    testsupport::RawHttpServer server(
        {testsupport::rawResponse("Content-Length: 10000\r\n", body)});
    makeWindow(server.host());
    const testsupport::FailingWrites full(packagePath(), ENOSPC, 3000);

    const platform::Error failure = downloadFailure();

    EXPECT_EQ(failure.number(), ErrorNumber::pathFileAccess);
    EXPECT_NE(failure.description().find("No space left on device"), std::string::npos)
        << failure.description();
    EXPECT_TRUE(package() == body.substr(0, 3000));
}

// A link where the package file goes is refused, never written through.
TEST_F(DownloadFixture, PackageFileIsNeverWrittenThroughALink) {
    const testsupport::TempDir elsewhere;
    testsupport::writeFile(elsewhere / "victim", "keep");
    ASSERT_EQ(symlink((elsewhere / "victim").c_str(), packagePath().c_str()), 0);
    testsupport::RawHttpServer server({testsupport::rawResponse("Content-Length: 4\r\n", "evil")});
    makeWindow(server.host());

    const platform::Error failure = downloadFailure();

    EXPECT_FALSE(failure.description().empty());
    EXPECT_EQ(testsupport::readFile(elsewhere / "victim"), "keep");
}

struct TransportCase {
    const char* name;
    testsupport::RawReply reply; // empty bytes: nothing listens
    const char* wording;         // part of the description
};

TEST_F(DownloadFixture, TransportFailuresReachTheLogOnceWithTheirDescription) {
    const std::string cut = patternedBytes(2000);
    const TransportCase cases[] = {
        {"refused", {}, "127.0.0.1"},
        {"reset mid-body",
         {testsupport::rawResponse("Content-Length: 5000\r\n", cut), true},
         "reset"},
        {"short body", {testsupport::rawResponse("Content-Length: 5000\r\n", cut)}, "3000 bytes"},
    };
    for (const TransportCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(install / "NoteError.txt");
        const std::size_t boxesBefore = ui.messageBoxes().size();
        std::unique_ptr<testsupport::RawHttpServer> server;
        std::string host = "127.0.0.1:" + std::to_string(testsupport::refusedPort());
        if (!c.reply.bytes.empty()) {
            server = std::make_unique<testsupport::RawHttpServer>(c.reply);
            host = server->host();
        }
        makeWindow(host);

        EXPECT_FALSE(runUpdate());

        const std::string line = log();
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
        EXPECT_NE(line.find("\"Updater: Download "), std::string::npos) << line;
        EXPECT_NE(line.find(c.wording), std::string::npos) << line;
        ASSERT_EQ(ui.messageBoxes().size(), boxesBefore + 2); // the offer, then the failure
        EXPECT_EQ(ui.messageBoxes().back().title, "Updater: Download");
        EXPECT_TRUE(ui.cmdDownload().isEnabled());
        EXPECT_TRUE(ui.ProgressBar1().isVisible());
    }
}

TEST_F(DownloadFixture, ExitDuringTheDownloadKeepsEveryByteReceived) {
    const std::string body = patternedBytes(10000);
    testsupport::RawHttpServer server(
        {testsupport::rawResponse("Content-Length: 10000\r\n", body)});
    for (int answer : {platform::MsgBoxAnswer::yes, platform::MsgBoxAnswer::no}) {
        SCOPED_TRACE(answer);
        makeWindow(server.host());
        testsupport::writeFile(packagePath(), std::string(20000, 'o'));
        ui.cmdDownload().setEnabled(false); // an update run is under way
        const std::size_t barBefore = ui.barValues().size();
        bool clicked = false;
        atEveryPump([&] {
            if (!clicked && ui.barValues().size() - barBefore == 3) {
                clicked = true;
                ui.answerNext(answer);
                form->cmdCancel_Click();
            }
        });

        if (answer == platform::MsgBoxAnswer::yes) {
            EXPECT_THROW(download(), platform::ProgramEnded);
            EXPECT_TRUE(package() == body.substr(0, 3 * 1024));
        } else {
            download();
            EXPECT_TRUE(package() == body);
        }
        EXPECT_EQ(ui.messageBoxes().back().prompt,
                  "Update in progress,Do you want to stop and exit");
    }
}

// The program's end runs no destructor in the real toolkit: the chunks the
// package file holds back must be in the file by the time the end comes.
TEST_F(DownloadFixture, TheEndOfTheProgramFindsEveryReceivedByteInTheFile) {
    const std::string body = patternedBytes(100000);
    testsupport::RawHttpServer server(
        {testsupport::rawResponse("Content-Length: 100000\r\n", body)});
    makeWindow(server.host());
    ui.cmdDownload().setEnabled(false); // an update run is under way
    std::string atTheEnd;
    atEveryPump([&] {
        if (ui.barValues().size() == 50 && atTheEnd.empty()) {
            ui.answerNext(platform::MsgBoxAnswer::yes);
            try {
                form->cmdCancel_Click();
            } catch (const platform::ProgramEnded&) {
                atTheEnd = package();
                throw;
            }
        }
    });

    EXPECT_THROW(download(), platform::ProgramEnded);

    EXPECT_TRUE(atTheEnd == body.substr(0, 50 * 1024)) << atTheEnd.size();
}

} // namespace
