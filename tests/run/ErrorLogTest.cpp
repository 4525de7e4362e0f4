#include "UpdaterFixture.h"
#include "testsupport/CaseName.h"
#include "testsupport/FailingWrites.h"

#include "platform/Error.h"

#include <cerrno>
#include <sys/stat.h>

TEST_F(UpdaterFixture, RecordsAreAppendedInOrderWithQuotesUnescaped) {
    testsupport::writeFile(install / "NoteError.txt", "\"06/Dec/2026\",\"Updater earlier\"\r\n");

    form->NoteError("Updater: Download", "Permission denied", false);
    form->NoteError("Updater", "File \"a.dll\" not found", false);

    EXPECT_EQ(log(), "\"06/Dec/2026\",\"Updater earlier\"\r\n"
                     "\"07/Dec/2026\",\"Updater: Download Permission denied\"\r\n"
                     "\"07/Dec/2026\",\"Updater File \"a.dll\" not found\"\r\n");
    EXPECT_TRUE(ui.messageBoxes().empty());
}

TEST_F(UpdaterFixture, DateUsesEnglishMonthsWhateverTheMonth) {
    const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::string expected;
    for (int month = 0; month < 12; ++month) {
        form->setToday([month] {
            std::tm day{};
            day.tm_mday = 1 + month;
            day.tm_mon = month;
            day.tm_year = 99 + month;
            return day;
        });
        form->NoteError("S", "d", false);
        char line[64];
        std::snprintf(line, sizeof line, "\"%02d/%s/%04d\",\"S d\"\r\n", 1 + month, months[month],
                      1999 + month);
        expected += line;
    }
    EXPECT_EQ(log(), expected);
}

TEST_F(UpdaterFixture, ShownFailureIsTitledWithTheSourceLabel) {
    form->NoteError("Updater: Download", "Overflow", true);
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    EXPECT_EQ(ui.messageBoxes()[0].prompt, "Error Contact Administrator.\r\nOverflow");
    EXPECT_EQ(ui.messageBoxes()[0].style, 64);
    EXPECT_EQ(ui.messageBoxes()[0].title, "Updater: Download");
}

TEST_F(UpdaterFixture, UnwritableLogGivesTheCriticalBoxAndReturns) {
    // A folder where the log file should be cannot be opened for appending.
    ASSERT_EQ(mkdir((install / "NoteError.txt").c_str(), 0755), 0);
    EXPECT_NO_THROW(form->NoteError("Updater", "Path not found", true));
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    // The failure is still told, and why the log did not take it.
    EXPECT_EQ(ui.messageBoxes()[0].prompt.rfind("Error Contact Administrator.\r\nPath not found\r\n"
                                                "\r\nThe error log could not be written: ",
                                                0),
              0u)
        << ui.messageBoxes()[0].prompt;
    EXPECT_NE(ui.messageBoxes()[0].prompt.find("NoteError.txt"), std::string::npos);
    EXPECT_EQ(ui.messageBoxes()[0].style, 16);
    EXPECT_EQ(ui.messageBoxes()[0].title, "");
}

struct BrokenLog {
    const char* name;
    int writeError;
    std::size_t room;
    int closeError;
};

class LogOnABrokenDisk : public UpdaterFixture, public ::testing::WithParamInterface<BrokenLog> {};

TEST_P(LogOnABrokenDisk, GivesTheCriticalBoxAndReturns) {
    const BrokenLog& c = GetParam();
    const testsupport::FailingWrites broken(install / "NoteError.txt", c.writeError, c.room,
                                            c.closeError);
    EXPECT_NO_THROW(form->NoteError("Updater", "Path not found", true));
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    EXPECT_EQ(ui.messageBoxes()[0].prompt.rfind("Error Contact Administrator.\r\nPath not found\r\n"
                                                "\r\nThe error log could not be written: ",
                                                0),
              0u)
        << ui.messageBoxes()[0].prompt;
    EXPECT_EQ(ui.messageBoxes()[0].style, 16);
}

INSTANTIATE_TEST_SUITE_P(Failures, LogOnABrokenDisk,
                         ::testing::Values(BrokenLog{"FullDisk", ENOSPC, 0, 0},
                                           BrokenLog{"FullDiskMidRecord", ENOSPC, 10, 0},
                                           BrokenLog{"FailingDevice", EIO, 0, 0},
                                           BrokenLog{"DelayedErrorAtClose", EIO, 4096, EIO}),
                         testsupport::CaseName());

struct WaitCase {
    const char* name;
    double seconds;
    long pumps;
};

class WaitPumps : public UpdaterFixture, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(WaitPumps, CountsPumpsRoundingHalvesToEven) {
    form->wait(GetParam().seconds);
    EXPECT_EQ(ui.pumps(), GetParam().pumps);
}

INSTANTIATE_TEST_SUITE_P(Counts, WaitPumps,
                         ::testing::Values(WaitCase{"Zero", 0, 0}, WaitCase{"HalfDown", 0.0005, 0},
                                           WaitCase{"OneAndAHalfUp", 0.0015, 2},
                                           WaitCase{"TwoAndAHalfDown", 0.0025, 2},
                                           WaitCase{"Negative", -1, 0},
                                           WaitCase{"FiveSeconds", 5, 5000}),
                         testsupport::CaseName());

TEST_F(UpdaterFixture, WaitBeyondThirtyTwoBitsOverflows) {
    try {
        form->wait(2147483.648);
        FAIL() << "no overflow";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), 6);
    }
    EXPECT_EQ(ui.pumps(), 0);
}

// One record holds at most 64 KiB of text, however long the failure.
TEST_F(UpdaterFixture, ALongFailureIsOneBoundedRecord) {
    form->NoteError("Updater", std::string(200 * 1024, 'm'), false);
    const std::string written = log();
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1);
    EXPECT_LE(written.size(), 64u * 1024 + 40);
    EXPECT_NE(written.find("(cut: the record is longer than 64 KiB)\"\r\n"), std::string::npos);
}
