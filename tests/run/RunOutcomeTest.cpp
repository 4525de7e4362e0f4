// The line the window's driver writes of what a run came to, read back:
// the last one counts, unknown fields are kept for readers that know them,
// and a line that cannot be read is no outcome rather than a wrong one.

#include "testsupport/RunOutcome.h"
#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

#include <map>

namespace {

struct OutcomeCase {
    const char* name;
    const char* said;
    bool read;
    std::map<std::string, std::int64_t> fields;
};

const OutcomeCase cases[] = {
    {"fields",
     "outcome: check=4 changed=1 installed=1\n",
     true,
     {{"check", 4}, {"changed", 1}, {"installed", 1}}},
    {"amongBoxes",
     "box Updater: New version found|Yes?\noutcome: check=3 failure=-2147220992\nopen: x\n",
     true,
     {{"check", 3}, {"failure", -2147220992}}},
    {"lastCounts", "outcome: check=1\noutcome: check=2\n", true, {{"check", 2}}},
    {"unknownKept", "outcome: check=4 later=7\n", true, {{"check", 4}, {"later", 7}}},
    {"none", "box Updater: Done\n", false, {}},
    {"notANumber", "outcome: check=four\n", false, {}},
    {"trailingText", "outcome: check=4x\n", false, {}},
    {"noValue", "outcome: check=\n", false, {}},
    {"noName", "outcome: =4\n", false, {}},
    {"noEquals", "outcome: check\n", false, {}},
    {"startsOnlyALine", "said outcome: check=4\n", false, {}},
};

class RunOutcomeLine : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(RunOutcomeLine, ReadsTheLastLine) {
    const OutcomeCase& c = GetParam();
    const auto outcome = testsupport::lastRunOutcome(c.said);
    ASSERT_EQ(outcome.has_value(), c.read);
    if (outcome) {
        EXPECT_EQ(outcome->fields, c.fields);
        EXPECT_EQ(outcome->field("absent"), std::nullopt);
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, RunOutcomeLine, ::testing::ValuesIn(cases),
                         testsupport::CaseName());

} // namespace
