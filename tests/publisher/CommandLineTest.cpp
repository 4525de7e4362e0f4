// The tool's command line: what each form asks for, and a sentence for each
// way of getting it wrong.
#include "PublisherRun.h"

#include "publisher/CommandLine.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

namespace {

using publisher::Command;
using publisher::readCommand;
using publisher::UsageMistake;

TEST(CommandLine, ReadsEachForm) {
    const auto publish = readCommand({"--key", "k.pem", "--valid-days", "7", "--for-older-updaters",
                                      "--replace-newer", "--replace-key", "--answer-lifetime", "60",
                                      "rel", "1.3.0", "out"});
    ASSERT_TRUE(std::holds_alternative<Command>(publish));
    const Command& command = std::get<Command>(publish);
    EXPECT_EQ(command.task, Command::Task::publish);
    EXPECT_EQ(command.privateKeyFile, "k.pem");
    EXPECT_EQ(command.validDays, 7);
    EXPECT_TRUE(command.forOlderUpdaters);
    EXPECT_TRUE(command.replaceNewer);
    EXPECT_TRUE(command.replaceKey);
    EXPECT_EQ(command.answerLifetime, 60);
    EXPECT_EQ(command.operands, (std::vector<std::string>{"rel", "1.3.0", "out"}));

    const auto renew = readCommand({"--key", "k.pem", "--renew", "out", "1.3.0"});
    ASSERT_TRUE(std::holds_alternative<Command>(renew));
    EXPECT_EQ(std::get<Command>(renew).task, Command::Task::renew);
    EXPECT_FALSE(std::get<Command>(renew).validDays.has_value());
    EXPECT_EQ(std::get<Command>(renew).operands, (std::vector<std::string>{"out", "1.3.0"}));

    const auto compare = readCommand({"--compare", "old.zip", "new.zip"});
    ASSERT_TRUE(std::holds_alternative<Command>(compare));
    EXPECT_EQ(std::get<Command>(compare).task, Command::Task::compare);
}

TEST(CommandLine, EachMistakeIsNamed) {
    const struct {
        std::vector<std::string> arguments;
        const char* reason;
    } cases[] = {
        {{"rel", "1.3.0", "out", "--key", "k.pem"},
         "the option --key comes after the operands; options come first"},
        {{"--key", "k.pem", "--renew", "out"},
         "--renew takes OUTPUT_FOLDER VERSION, not 1 operand"},
        {{"--renew", "out", "1.3.0"}, "--renew needs --key"},
        {{"--key", "k.pem", "--valid-days", "abc", "rel", "1.3.0", "out"},
         "--valid-days takes a whole number of days, not \"abc\""},
        {{"--key", "k.pem", "--valid-days", "7x", "rel", "1.3.0", "out"},
         "--valid-days takes a whole number of days, not \"7x\""},
        {{"--valid-days", "5", "rel", "1.3.0", "out"}, "--valid-days needs --key"},
        {{"--for-older-updaters", "rel", "1.3.0", "out"}, "--for-older-updaters needs --key"},
        {{"--key", "k.pem", "--for-older-updaters", "--renew", "out", "1.3.0"},
         "--for-older-updaters is for publishing"},
        {{"--key", "k.pem", "--replace-newer", "--renew", "out", "1.3.0"},
         "--replace-newer is for publishing"},
        {{"--key", "k.pem", "--replace-key", "--renew", "out", "1.3.0"},
         "--replace-key is for publishing"},
        {{"--compare", "--replace-key", "a", "b"}, "--compare signs and publishes nothing"},
        {{"--key", "k.pem", "--key", "other.pem", "rel", "1.3.0", "out"}, "--key is given twice"},
        {{"--renew", "--renew"}, "--renew is given twice"},
        {{"--key"}, "--key needs the private key file after it"},
        {{"--signed", "rel", "1.3.0", "out"}, "there is no option --signed"},
        {{"--renew", "--compare", "a", "b"}, "--renew and --compare do not go together"},
        {{"--compare", "--key", "k.pem", "a", "b"}, "--compare signs and publishes nothing"},
        {{"--compare", "a.zip"}, "--compare takes OLD_PACKAGE NEW_PACKAGE, not 1 operand"},
        {{"--answer-lifetime", "0", "rel", "1.3.0", "out"},
         "--answer-lifetime takes 1 to 60 seconds (caches must not keep the version answer "
         "longer than a minute), not \"0\""},
        {{"--answer-lifetime", "61", "rel", "1.3.0", "out"}, "--answer-lifetime takes 1 to 60"},
        {{"--answer-lifetime", "-5", "rel", "1.3.0", "out"}, "--answer-lifetime takes 1 to 60"},
        {{"--answer-lifetime", "1m", "rel", "1.3.0", "out"},
         "--answer-lifetime takes a whole number of seconds, not \"1m\""},
        {{"--answer-lifetime"}, "--answer-lifetime needs the number of seconds after it"},
        {{"--answer-lifetime", "5", "--answer-lifetime", "6", "rel", "1.3.0", "out"},
         "--answer-lifetime is given twice"},
        {{"--key", "k.pem", "--answer-lifetime", "5", "--renew", "out", "1.3.0"},
         "--answer-lifetime is for publishing"},
        {{"--compare", "--answer-lifetime", "5", "a", "b"},
         "--compare signs and publishes nothing"},
        {{"rel", "1.3.0"}, "publishing takes RELEASE_FOLDER VERSION OUTPUT_FOLDER, not 2 operands"},
        {{}, "publishing takes RELEASE_FOLDER VERSION OUTPUT_FOLDER, not 0 operands"},
    };
    for (const auto& c : cases) {
        const auto read = readCommand(c.arguments);
        ASSERT_TRUE(std::holds_alternative<UsageMistake>(read)) << c.reason;
        EXPECT_NE(std::get<UsageMistake>(read).reason.find(c.reason), std::string::npos)
            << std::get<UsageMistake>(read).reason;
    }
}

// The tool says the one sentence, then the short usage, and stops with 2.
TEST(CommandLine, TheToolSaysWhatIsWrongThenTheShortUsage) {
    testsupport::TempDir scratch;
    const PublisherRun run = runPublisher(
        {scratch.path(), "1.3.0", scratch / "out", "--key", "k.pem"}, scratch / "out.txt");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, "morvane-publish: the option --key comes after the operands; options "
                          "come first\n" +
                              std::string(publisher::shortUsage) +
                              "(morvane-publish --help tells more)\n");
    EXPECT_FALSE(testsupport::exists(scratch / "out"));
}

} // namespace
