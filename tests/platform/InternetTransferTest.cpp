#include "platform/Error.h"
#include "platform/http/CurlInternetTransfer.h"
#include "platform/http/NetworkFailure.h"
#include "testsupport/AnswerGate.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/RawHttpServer.h"
#include "testsupport/TempDir.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using platform::CurlInternetTransfer;
using testsupport::patternedBytes;

void runToEnd(CurlInternetTransfer& transfer) {
    while (transfer.StillExecuting()) {
    }
}

std::string asText(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

int32_t failureNumber(const std::function<void()>& action) {
    try {
        action();
    } catch (const platform::Error& error) {
        EXPECT_FALSE(error.description().empty());
        return error.number();
    }
    ADD_FAILURE() << "no error raised";
    return 0;
}

// A server whose answer to /held waits for the gate; /quick answers at once.
void serveHeld(testsupport::LoopbackServer& server, const testsupport::AnswerGate& gate) {
    server.server().Get("/held",
                        [hold = gate.holder()](const httplib::Request&, httplib::Response& res) {
                            hold();
                            res.set_content("done", "text/plain");
                        });
    server.server().Get("/quick", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("quick", "text/plain");
    });
    server.start();
}

TEST(InternetTransfer, ExecuteReturnsAtOnceAndANewRequestAbandonsAnUnfinishedOne) {
    testsupport::LoopbackServer server;
    testsupport::AnswerGate gate;
    serveHeld(server, gate);

    CurlInternetTransfer transfer;
    transfer.URL = "http://" + server.host() + "/held";
    transfer.Execute("GET", "");
    EXPECT_TRUE(transfer.StillExecuting());
    transfer.URL = "http://" + server.host() + "/quick";
    transfer.Execute("GET", "");
    EXPECT_EQ(asText(transfer.GetChunk(100)), "quick");

    gate.release();
    transfer.URL = "http://" + server.host() + "/held";
    transfer.Execute("GET", "");
    runToEnd(transfer);
    EXPECT_EQ(asText(transfer.GetChunk(100)), "done");
}

TEST(InternetTransfer, ReadsHeadersOfTheFinalResponseWithoutRegardToCase) {
    testsupport::LoopbackServer server;
    server.server().Get("/first", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("X-First", "1");
        res.set_redirect("/final");
    });
    server.server().Get("/final", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("X-Final", "yes");
        res.set_content("12345", "text/plain");
    });
    server.start();

    CurlInternetTransfer transfer;
    transfer.URL = "http://" + server.host() + "/first";
    transfer.Execute("GET", "Range: bytes=0-\r\n");
    runToEnd(transfer);
    EXPECT_EQ(transfer.GetHeader("x-FINAL"), "yes");
    EXPECT_EQ(transfer.GetHeader("content-length"), "5");
    EXPECT_EQ(transfer.GetHeader("X-First"), "");
    EXPECT_EQ(transfer.GetHeader("X-Missing"), "");
    EXPECT_EQ(transfer.GetHeader(""), "");
    EXPECT_EQ(server.requests().back().headers.find("Range")->second, "bytes=0-");
}

TEST(InternetTransfer, HandsTheBodyOutInPiecesUntilItIsExhausted) {
    const std::string body = patternedBytes(3000);
    testsupport::LoopbackServer server;
    server.server().Get("/p", [&body](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/zip");
    });
    server.start();

    CurlInternetTransfer transfer;
    transfer.URL = "http://" + server.host() + "/p";
    transfer.Execute("GET", "");
    std::string received;
    std::vector<std::size_t> sizes;
    for (std::size_t size : {0, 1024, 1024, 1, 5000, 1024}) {
        const auto chunk = transfer.GetChunk(size);
        sizes.push_back(chunk.size());
        received += asText(chunk);
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{0, 1024, 1024, 1, 951, 0}));
    EXPECT_TRUE(received == body);
}

// A body several times the size of the buffer: the transfer pauses and goes
// on many times, and every byte comes out once, in order, whatever the sizes
// asked for (one of them larger than the whole buffer). Nothing is written
// to the system's temporary folder.
TEST(InternetTransfer, ABodyLargerThanItsBufferComesOutWholeWithNothingOnDisk) {
    const std::string body = patternedBytes(5 * 1024 * 1024 + 333);
    testsupport::LoopbackServer server;
    server.server().Get("/p", [&body](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/zip");
    });
    server.start();
    const testsupport::TempDir temporary;
    const char* const before = std::getenv("TMPDIR");
    const std::string kept = before != nullptr ? before : "";
    setenv("TMPDIR", temporary.path().c_str(), 1);

    CurlInternetTransfer transfer;
    transfer.URL = "http://" + server.host() + "/p";
    transfer.Execute("GET", "");
    std::string received;
    const std::size_t sizes[] = {1024, 1, 3 * 1024 * 1024 + 7, 4093, 65536};
    for (std::size_t i = 0;; ++i) {
        const auto chunk = transfer.GetChunk(sizes[i % std::size(sizes)]);
        if (chunk.empty()) {
            break;
        }
        received += asText(chunk);
    }
    EXPECT_TRUE(std::filesystem::is_empty(temporary.path()));
    before != nullptr ? setenv("TMPDIR", kept.c_str(), 1) : unsetenv("TMPDIR");
    EXPECT_EQ(received.size(), body.size());
    EXPECT_TRUE(received == body);
}

// While the buffer is full the network waits for the reader; a reader that
// takes longer than the silence limit (a modal box during the download, say)
// is no silent server.
TEST(InternetTransfer, AReaderSlowerThanTheSilenceLimitIsNoSilentServer) {
    const std::string body = patternedBytes(4 * 1024 * 1024);
    testsupport::LoopbackServer server;
    server.server().Get("/p", [&body](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/zip");
    });
    server.start();

    CurlInternetTransfer transfer(std::chrono::seconds(1));
    transfer.URL = "http://" + server.host() + "/p";
    transfer.Execute("GET", "");
    std::string received = asText(transfer.GetChunk(1024));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (auto chunk = transfer.GetChunk(65536); !chunk.empty(); chunk = transfer.GetChunk(65536)) {
        received += asText(chunk);
    }
    EXPECT_TRUE(received == body);
}

TEST(InternetTransfer, RefusedConnectionRaisesAtEveryLaterRead) {
    CurlInternetTransfer transfer;
    transfer.URL = "http://127.0.0.1:" + std::to_string(testsupport::refusedPort()) + "/p";
    transfer.Execute("GET", "");
    runToEnd(transfer);
    const int32_t refused = platform::networkFailureNumber(platform::NetworkFailureKind::refused);
    EXPECT_EQ(failureNumber([&] { transfer.GetHeader("Content-Length"); }), refused);
    EXPECT_EQ(failureNumber([&] { transfer.GetChunk(1024); }), refused);
    EXPECT_EQ(failureNumber([&] { transfer.GetChunk(1024); }), refused);
}

// The body is handed out while it arrives, so a transfer that breaks off
// raises at the read that reaches the break, and at every read after it;
// what came before it is handed out unchanged.
TEST(InternetTransfer, BrokenOffBodyRaisesAtTheBreakAndEveryLaterRead) {
    const std::string sent = patternedBytes(2000);
    testsupport::RawHttpServer shortBody(
        {testsupport::rawResponse("Content-Length: 5000\r\n", sent)});
    testsupport::RawHttpServer reset(
        {testsupport::rawResponse("Content-Length: 5000\r\n", sent), true});
    const struct {
        std::string host;
        int32_t number;
    } cases[] = {
        {shortBody.host(), CurlInternetTransfer::incompleteBody},
        {reset.host(), platform::ErrorNumber::objectDefinedBase + CURLE_RECV_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        CurlInternetTransfer transfer;
        transfer.URL = "http://" + c.host + "/p";
        transfer.Execute("GET", "");
        runToEnd(transfer);
        std::string received;
        int32_t failure = 0;
        for (int read = 0; read < 10 && failure == 0; ++read) {
            try {
                received += asText(transfer.GetChunk(1024));
            } catch (const platform::Error& error) {
                failure = error.number();
            }
        }
        EXPECT_EQ(failure, c.number);
        EXPECT_LE(received.size(), sent.size());
        EXPECT_EQ(received, sent.substr(0, received.size()));
        EXPECT_EQ(failureNumber([&] { transfer.GetChunk(1024); }), c.number);
        EXPECT_EQ(failureNumber([&] { transfer.GetHeader("Content-Length"); }), c.number);
    }
}

TEST(InternetTransfer, SilentServerFailsAfterTheSilenceLimit) {
    testsupport::LoopbackServer server;
    testsupport::AnswerGate gate;
    serveHeld(server, gate);

    CurlInternetTransfer transfer(std::chrono::seconds(1));
    transfer.URL = "http://" + server.host() + "/held";
    transfer.Execute("GET", "");
    EXPECT_EQ(failureNumber([&] { transfer.GetHeader("Content-Length"); }),
              platform::ErrorNumber::objectDefinedBase + CURLE_OPERATION_TIMEDOUT);
}

TEST(InternetTransfer, MisuseRaisesInvalidCall) {
    CurlInternetTransfer transfer;
    transfer.URL = "http://127.0.0.1:1/";
    EXPECT_EQ(failureNumber([&] { transfer.Execute("PUT", ""); }),
              platform::ErrorNumber::invalidCall);
    EXPECT_EQ(failureNumber([&] { transfer.Execute("GET", "no colon here\r\n"); }),
              platform::ErrorNumber::invalidCall);
    EXPECT_FALSE(transfer.StillExecuting());
    EXPECT_EQ(transfer.GetHeader("Content-Length"), "");
    EXPECT_TRUE(transfer.GetChunk(1024).empty());
}

} // namespace
