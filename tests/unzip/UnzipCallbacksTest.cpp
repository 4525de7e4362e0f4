#include "RecordingFixture.h"
#include "testsupport/CaseName.h"

#include "unzip/CGUnzipFiles.h"
#include "unzip/UnzipCallbacks.h"

using platform::MsgBoxAnswer;

struct PrintCase {
    const char* name;
    std::vector<std::string> buffers; // each handed over with its full length
    std::string expected;
};

class PrintCallback : public RecordingFixture, public ::testing::WithParamInterface<PrintCase> {};

TEST_P(PrintCallback, GathersTheLibrarysMessages) {
    script->messages = GetParam().buffers;
    CGUnzipFiles().Unzip("/a.zip", "");
    EXPECT_EQ(CodeModule::state().unzipPrintText, GetParam().expected);
    EXPECT_EQ(CodeModule::state().lastMessage, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, PrintCallback,
    ::testing::Values(PrintCase{"Appended", {"one\n", "two\n"}, "one\ntwo\n"},
                      PrintCase{"LeadingLineFeedBecomesCrLf", {"a", "\nrest is dropped"}, "a\r\n"},
                      PrintCase{"TrailingLineFeedKept", {"done\n"}, "done\n"},
                      PrintCase{"EmptyBufferAddsNothing", {"x", ""}, "x"},
                      PrintCase{"StopsAtZeroByte", {std::string("ab\0cd", 5)}, "ab"},
                      PrintCase{
                          "NeverPast32800", {std::string(40000, 'z')}, std::string(32801, 'z')}),
    testsupport::CaseName());

struct OverwriteCase {
    const char* name;
    int answer;
    int32_t expected;
};

class OverwriteCallback : public RecordingFixture,
                          public ::testing::WithParamInterface<OverwriteCase> {};

TEST_P(OverwriteCallback, MapsTheAnswer) {
    ui.answerNext(GetParam().answer);
    EXPECT_EQ(CodeModule::OverwriteCallback("/data/a.txt"), GetParam().expected);
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    EXPECT_EQ(ui.messageBoxes()[0].prompt, "Overwrite /data/a.txt?");
    EXPECT_EQ(ui.messageBoxes()[0].title, "VBUnZip32 - File Already Exists!");
    EXPECT_EQ(ui.messageBoxes()[0].style, 51);
}

INSTANTIATE_TEST_SUITE_P(Answers, OverwriteCallback,
                         ::testing::Values(OverwriteCase{"No", MsgBoxAnswer::no, 100},
                                           OverwriteCase{"Cancel", MsgBoxAnswer::cancel, 104},
                                           OverwriteCase{"Yes", MsgBoxAnswer::yes, 102},
                                           OverwriteCase{"Other", MsgBoxAnswer::ok, 102}),
                         testsupport::CaseName());

TEST_F(RecordingFixture, OverwriteNameIsCutAt256Bytes) {
    ui.answerNext(MsgBoxAnswer::yes);
    const std::string longName(300, 'n');
    CodeModule::OverwriteCallback(longName.c_str());
    EXPECT_EQ(ui.messageBoxes()[0].prompt, "Overwrite " + std::string(256, 'n') + "?");
}

TEST_F(RecordingFixture, CancelledPasswordIsNotAskedAgainInTheSameCall) {
    script->passwordRequests = 2;
    ui.answerNextInput("");
    CGUnzipFiles().Unzip("/a.zip", "");
    EXPECT_EQ(lastCall->passwordAnswers, (std::vector<int32_t>{1, 1}));
    ASSERT_EQ(ui.inputBoxes().size(), 1u);
    EXPECT_EQ(ui.inputBoxes()[0].prompt, "Please Enter The Password!");
    EXPECT_EQ(ui.inputBoxes()[0].title, "");

    // The next call asks again.
    ui.answerNextInput("pw");
    script->passwordRequests = 1;
    CGUnzipFiles().Unzip("/a.zip", "");
    EXPECT_EQ(lastCall->passwordAnswers, (std::vector<int32_t>{0}));
}

TEST_F(RecordingFixture, PasswordIsWrittenWithZerosUpToTheBufferSize) {
    script->passwordRequests = 1;
    script->passwordBufferSize = 8;
    ui.answerNextInput("abc");
    CGUnzipFiles().Unzip("/a.zip", "");
    EXPECT_EQ(lastCall->passwordAnswers, (std::vector<int32_t>{0}));
    EXPECT_EQ(lastCall->passwords[0], std::string("abc\0\0\0\0\0", 8));
}

TEST_F(RecordingFixture, PasswordThatDoesNotFitIsRefusedNotCut) {
    script->passwordRequests = 2;
    script->passwordBufferSize = 4;
    ui.answerNextInput("abcd"); // needs 5 bytes with its zero byte
    CGUnzipFiles().Unzip("/a.zip", "");
    EXPECT_EQ(lastCall->passwordAnswers, (std::vector<int32_t>{1, 1}));
    EXPECT_EQ(lastCall->passwords[0], std::string(4, '\0'));

    script->passwordRequests = 1;
    ui.answerNextInput("abc"); // exactly fits
    CGUnzipFiles().Unzip("/a.zip", "");
    EXPECT_EQ(lastCall->passwordAnswers, (std::vector<int32_t>{0}));
    EXPECT_EQ(lastCall->passwords[0], std::string("abc\0", 4));
}
