// The tool's toolkit never waits for a user: a box that needs one is
// answered Cancel and kept, so the tool can fail with it.
#include "platform/console/ConsoleToolkit.h"

#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using platform::MsgBoxAnswer;
using platform::MsgBoxStyle;

struct BoxCase {
    const char* name;
    int style;
    int answer;
    bool unanswered;
};

class ConsoleBox : public ::testing::TestWithParam<BoxCase> {};

TEST_P(ConsoleBox, OkOnlyIsPrintedAndAQuestionIsRefused) {
    std::ostringstream printed;
    platform::ConsoleToolkit toolkit(printed);
    toolkit.setAppTitle("tool");
    EXPECT_EQ(toolkit.msgBox("Overwrite a.txt?", GetParam().style, ""), GetParam().answer);
    EXPECT_EQ(toolkit.unansweredQuestions().size(), GetParam().unanswered ? 1u : 0u);
    EXPECT_NE(printed.str().find("tool: Overwrite a.txt?"), std::string::npos) << printed.str();
}

INSTANTIATE_TEST_SUITE_P(
    Styles, ConsoleBox,
    ::testing::Values(
        BoxCase{"OkOnly", MsgBoxStyle::okOnly, MsgBoxAnswer::ok, false},
        BoxCase{"OkWithIcon", MsgBoxStyle::okOnly + MsgBoxStyle::critical, MsgBoxAnswer::ok, false},
        BoxCase{"YesNoCancel", MsgBoxStyle::yesNoCancel + MsgBoxStyle::exclamation,
                MsgBoxAnswer::cancel, true},
        BoxCase{"YesNo", MsgBoxStyle::yesNo + MsgBoxStyle::question, MsgBoxAnswer::cancel, true}),
    testsupport::CaseName());

TEST(ConsoleInput, AnswersTheEmptyTextAndKeepsTheQuestion) {
    std::ostringstream printed;
    platform::ConsoleToolkit toolkit(printed);
    EXPECT_EQ(toolkit.inputBox("Please Enter The Password!", "Unzip"), "");
    ASSERT_EQ(toolkit.unansweredQuestions().size(), 1u);
    EXPECT_EQ(toolkit.unansweredQuestions().front(), "Unzip: Please Enter The Password!");
}

} // namespace
