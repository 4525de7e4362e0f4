#include "DownloadFixture.h"
#include "fetch/DownloadPercent.h"
#include "testsupport/AnswerGate.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/PatternedBytes.h"

#include <algorithm>

#include <vector>

using updater::downloadPercent;

namespace {

struct ProgressCase {
    std::size_t size;
    std::vector<float> bar;
};

TEST_F(DownloadFixture, TheBarMovesOncePerChunkAndPumpsAfterEach) {
    const ProgressCase cases[] = {
        {2500, {41, 82, 100, 100}},
        {200, {100, 100}},
        {1024, {100, 100}},
        // 1024 then a single byte: the loop ends there, with no further read.
        {1025, {100, 100}},
        {8192, {12, 25, 38, 50, 62, 75, 88, 100, 100}},
    };
    for (const ProgressCase& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string body = testsupport::patternedBytes(c.size);
        testsupport::LoopbackServer server;
        server.server().Get("/clientfiles/morvane/morvane.zip",
                            [&body](const httplib::Request&, httplib::Response& res) {
                                res.set_content(body, "application/zip");
                            });
        server.start();
        makeWindow(server.host());
        const std::size_t barBefore = ui.barValues().size();
        std::vector<std::size_t> barAtPump;
        atEveryPump([&] { barAtPump.push_back(ui.barValues().size() - barBefore); });

        download();

        EXPECT_EQ(std::vector<float>(ui.barValues().begin() + barBefore, ui.barValues().end()),
                  c.bar);
        EXPECT_TRUE(package() == body);
        // Pumps before the chunks (steps 1, 4 and 6), then one after each
        // bar move.
        const std::size_t moves = c.bar.size();
        ASSERT_GE(barAtPump.size(), moves + 2);
        for (std::size_t i = 0; i < barAtPump.size(); ++i) {
            const std::size_t fromEnd = barAtPump.size() - i;
            EXPECT_EQ(barAtPump[i], fromEnd <= moves ? moves - fromEnd + 1 : 0) << "pump " << i;
        }
    }
}

TEST(DownloadPercent, RoundsHalvesToTheEvenNeighbour) {
    const struct {
        int64_t received;
        int64_t total;
        const char* text;
    } cases[] = {
        // Past 2 and 4 GiB.
        {3221225472, 4294967296, "75"},
        {4294967296, 4831838208, "89"},
        {4831838208, 4831838208, "100"},
        {100, 800, "12"},
        {27, 200, "14"},
        {300, 800, "38"},
        {500, 800, "62"},
        {700, 800, "88"},
        {1, 16, "6"},
        {1, 32, "3"},
        {1024, 2500, "41"},
        {2048, 2500, "82"},
        {2500, 2500, "100"},
        {3000, 1000, "300"},
        {0, 5, "0"},
        {10, -20, "-50"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(downloadPercent(c.received, c.total, "test"), c.text)
            << c.received << " of " << c.total;
    }
}

TEST(DownloadPercent, NothingAnnouncedIsDivisionByZero) {
    for (int32_t received : {0, 1024}) {
        try {
            downloadPercent(received, 0, "test");
            ADD_FAILURE() << "no error for " << received;
        } catch (const platform::Error& error) {
            EXPECT_EQ(error.number(), platform::ErrorNumber::divisionByZero);
            EXPECT_EQ(error.description(), "Division by zero");
        }
    }
}

TEST(DownloadPercent, WithoutATotalMovesAndStaysShortOfTheEnd) {
    const struct {
        int64_t received;
        const char* text;
    } cases[] = {
        {0, "0"},
        {4 * 1024 * 1024, "50"},
        {36 * 1024 * 1024, "90"},
        {INT64_MAX, "99"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(updater::percentWithoutTotal(c.received), c.text) << c.received;
    }
}

// A server that sends the package without its length (chunked, as a
// compressing or scripted server does): the whole body is taken, the bar
// moving with it and never claiming the end before it.
TEST_F(DownloadFixture, APackageWithoutALengthIsTakenWhole) {
    const std::string body = testsupport::patternedBytes(3 * 1024 * 1024 + 17);
    testsupport::LoopbackServer server;
    server.server().Get("/clientfiles/morvane/morvane.zip", [&body](const httplib::Request&,
                                                                    httplib::Response& res) {
        res.set_chunked_content_provider(
            "application/zip", [&body](std::size_t offset, httplib::DataSink& sink) {
                if (offset == body.size()) {
                    sink.done();
                } else {
                    sink.write(body.data() + offset,
                               std::min<std::size_t>(100000, body.size() - offset));
                }
                return true;
            });
    });
    server.start();
    makeWindow(server.host());

    download();

    EXPECT_TRUE(package() == body);
    const auto& bar = ui.barValues();
    EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end()));
    EXPECT_GT(bar.back(), 30.0f);
    EXPECT_LT(bar.back(), 100.0f);
}

} // namespace

// The bar follows the network: it moves while the rest of the package is
// still on its way, and the window is pumped while the download waits.
TEST_F(DownloadFixture, BarMovesWhileThePackageIsStillArriving) {
    const std::string body = testsupport::patternedBytes(8 * 1024);
    testsupport::AnswerGate gate;
    testsupport::LoopbackServer server;
    server.server().Get(
        "/clientfiles/morvane/morvane.zip",
        [&body, hold = gate.holder()](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(
                body.size(), "application/zip",
                [&body, hold](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    // The second half waits for the test.
                    if (offset >= body.size() / 2) {
                        hold();
                    }
                    const std::size_t half = body.size() / 2;
                    const std::size_t end = offset < half ? half : body.size();
                    sink.write(body.data() + offset, std::min(length, end - offset));
                    return true;
                });
        });
    server.start();
    makeWindow(server.host());

    bool movedBeforeTheEnd = false;
    long waitingPumps = 0;
    atEveryPump([&] {
        if (!ui.barValues().empty() && ui.barValues().back() > 0 && !movedBeforeTheEnd) {
            movedBeforeTheEnd = true;
        }
        if (movedBeforeTheEnd && ++waitingPumps == 3) {
            gate.release(); // the window was pumped during the wait
        }
        if (ui.pumps() > 200000) {
            gate.release(); // never hang the suite
        }
    });
    download();

    EXPECT_TRUE(movedBeforeTheEnd);
    EXPECT_GE(waitingPumps, 3);
    EXPECT_EQ(package(), body);
    EXPECT_EQ(ui.barValues().back(), 100.0f);
}
