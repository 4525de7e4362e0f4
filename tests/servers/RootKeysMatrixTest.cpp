// A root build through each web server and cache publishers use, with the
// recommended settings: a release installs under the first keys line; then
// the publisher rotates the roots and moves to another release key, and
// once the answer's lifetime has passed every cached client takes the new
// keys line, walks the chain's line through the cache and installs the
// release the new key signed.
#include "RootPublication.h"

#include "testsupport/CaseName.h"
#include "testsupport/MatrixServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

// The seconds caches keep the answer, and a wait that outlasts it.
constexpr int answerLifetime = 1;
constexpr auto pastTheLifetime = std::chrono::seconds(answerLifetime + 2);

class RootKeysMatrix : public ::testing::TestWithParam<testsupport::Cell> {};

TEST_P(RootKeysMatrix, ANewKeysLineReachesEveryCachedClientWithinTheLifetime) {
    RootPublication published;
    const std::vector<std::string> lifetime{"--answer-lifetime", std::to_string(answerLifetime)};
    published.makeKeys({"r1", "r2"}, "a");
    published.publish("1.3.1", "a", lifetime);
    const auto served = GetParam().serve(published.web.path(), testsupport::Settings::recommended);
    ASSERT_NO_FATAL_FAILURE(published.expectInstalled(served->host(), "1.3.0.1"));

    published.makeKeys({"r1", "r3"}, "b",
                       {"--new-root", published.keys.at("n1").privateKeyFile, "--new-root",
                        published.keys.at("n2").privateKeyFile, "--new-threshold", "2"});
    std::vector<std::string> replacing = lifetime;
    replacing.push_back("--replace-key");
    published.publish("1.3.2", "b", replacing);
    std::this_thread::sleep_for(pastTheLifetime);
    ASSERT_NO_FATAL_FAILURE(published.expectInstalled(served->host(), "1.3.0.2")) << served->logs();
    const std::string record = testsupport::readFile(published.install + "/updater.trust");
    EXPECT_NE(record.find("rootset=2 "), std::string::npos) << record;
}

INSTANTIATE_TEST_SUITE_P(Cells, RootKeysMatrix, ::testing::ValuesIn(testsupport::matrixCells()),
                         testsupport::CaseName());

} // namespace
