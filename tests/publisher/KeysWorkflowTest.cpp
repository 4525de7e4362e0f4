// The publisher's keys workflow: the keys line made offline from root key
// files, refused below the threshold, a rotation written as the chain's
// line, and the served keys line carried into every answer published or
// renewed, only by a release key it lists.
#include "RootPublication.h"

#include "publisher/KeysCommand.h"
#include "signature/KeysLine.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "testsupport/CaseName.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <variant>

namespace {

using testsupport::readFile;

struct KeysCase {
    const char* name;
    std::vector<std::string> arguments;
    bool read;
};

const std::vector<KeysCase> keysCases = {
    {"Roots", {"--root", "r1", "--root", "r2", "--threshold", "2", "out", "KEY"}, true},
    {"Rotation",
     {"--root", "r1", "--threshold", "1", "--new-root", "n1", "--new-threshold", "1",
      "--valid-days", "30", "out", "KEY", "KEY2"},
     true},
    {"NoRoot", {"--threshold", "1", "out", "KEY"}, false},
    {"NoThreshold", {"--root", "r1", "out", "KEY"}, false},
    {"ThresholdZero", {"--root", "r1", "--threshold", "0", "out", "KEY"}, false},
    {"NewRootWithoutItsThreshold",
     {"--root", "r1", "--threshold", "1", "--new-root", "n1", "out", "KEY"},
     false},
    {"NoReleaseKey", {"--root", "r1", "--threshold", "1", "out"}, false},
    {"AnUnknownOption", {"--key", "k", "--root", "r1", "--threshold", "1", "out", "KEY"}, false},
    {"AValueMissing", {"--root"}, false},
    {"TooManyDays",
     {"--root", "r1", "--threshold", "1", "--valid-days", "9999", "out", "K"},
     false},
};

class KeysCommandLine : public ::testing::TestWithParam<KeysCase> {};

TEST_P(KeysCommandLine, ReadsWhatItTakes) {
    const auto read = publisher::readKeysCommand(GetParam().arguments);
    EXPECT_EQ(std::holds_alternative<publisher::KeysCommand>(read), GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(Lines, KeysCommandLine, ::testing::ValuesIn(keysCases),
                         testsupport::CaseName());

using Workflow = RootPublication;

TEST(KeysWorkflow, MakesALineTheRootsVouchForAndCountsItsSerialUp) {
    Workflow flow;
    ASSERT_EQ(flow.runMakeKeys({"r1", "r3"}, "a").status, 0);
    const PublisherRun made = flow.runMakeKeys({"r1", "r3"}, "a");
    ASSERT_EQ(made.status, 0) << made.output;
    const auto first =
        signature::checkKeysLine(flow.keysLine(), flow.roots(), 0, std::time(nullptr));
    ASSERT_TRUE(first.trusted()) << first.description;
    EXPECT_EQ(first.line->releaseKeys, std::vector{flow.pub("a")});
    // Made twice above: the serial is one above the one before each time.
    EXPECT_EQ(first.line->serial, 2U);
    EXPECT_GT(first.line->expires, std::time(nullptr) + 364 * 86400);

    // One root where two must sign: refused, the line before left.
    const std::string before = flow.keysLine();
    const PublisherRun below = flow.runMakeKeys({"r2"}, "a");
    EXPECT_NE(below.status, 0) << below.output;
    EXPECT_EQ(flow.keysLine(), before);
}

TEST(KeysWorkflow, ARotationWritesTheChainLineAndTheLineUnderTheNewSet) {
    Workflow flow;
    ASSERT_EQ(flow.runMakeKeys({"r1", "r2"}, "a").status, 0);
    const PublisherRun rotated =
        flow.runMakeKeys({"r1", "r2"}, "a",
                         {"--new-root", flow.keys.at("n1").privateKeyFile, "--new-root",
                          flow.keys.at("n2").privateKeyFile, "--new-threshold", "2"});
    ASSERT_EQ(rotated.status, 0) << rotated.output;
    const std::string chain = readFile(flow.served + "/rootset-2.txt");
    const auto step = signature::checkRotation(chain.substr(0, chain.find('\n')), flow.roots());
    ASSERT_TRUE(step.trusted()) << step.description;
    const auto current = signature::checkKeysLine(
        flow.keysLine(), signature::rootsAfter(*step.line), 0, std::time(nullptr));
    EXPECT_TRUE(current.trusted()) << current.description;
    EXPECT_EQ(current.line->rootSet, 2U);
}

// Publishing and renewing carry the served keys line, unchanged, into the
// answer; a key it does not list publishes nothing.
TEST(KeysWorkflow, TheAnswerCarriesTheServedKeysLine) {
    Workflow flow;
    ASSERT_EQ(flow.runMakeKeys({"r1", "r2"}, "a").status, 0);
    const PublisherRun published = flow.runPublish("1.3.0", "a");
    ASSERT_EQ(published.status, 0) << published.output;
    const std::string answer = readFile(flow.served + "/version.php");
    EXPECT_EQ(signature::carriedKeysLine(answer), flow.keysLine());

    ASSERT_EQ(flow.runMakeKeys({"r1", "r3"}, "a").status, 0);
    const PublisherRun renewed = runPublisher(
        {"--key", flow.keys.at("a").privateKeyFile, "--renew", flow.web.path(), "1.3.0"},
        flow.scratch / "renew.out");
    ASSERT_EQ(renewed.status, 0) << renewed.output;
    EXPECT_EQ(signature::carriedKeysLine(readFile(flow.served + "/version.php")), flow.keysLine());

    const std::string served = readFile(flow.served + "/version.php");
    const PublisherRun other = flow.runPublish("1.3.1", "b");
    EXPECT_NE(other.status, 0) << other.output;
    EXPECT_EQ(readFile(flow.served + "/version.php"), served);
}

} // namespace
