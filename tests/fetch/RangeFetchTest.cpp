// A range of the package is taken only when the answer is exactly that
// range of a package of the size expected; every other answer is a reason,
// and nothing of a refused answer's body reaches the sink past what the
// rule had let through.
#include "fetch/RangeFetch.h"
#include "fetch/FetchFailure.h"

#include "testsupport/CaseName.h"
#include "testsupport/ScriptedWeb.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace {

const std::string url = "http://updates.morvane.test/morvane.zip";
constexpr std::uint64_t first = 70'000;
constexpr std::uint64_t length = 140'000; // more than two pieces

std::string packageBytes() {
    std::string bytes(300'000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 7919) >> 5);
    }
    return bytes;
}

std::string contentRange(std::uint64_t from, std::uint64_t last, std::uint64_t total) {
    return "bytes " + std::to_string(from) + "-" + std::to_string(last) + "/" +
           std::to_string(total);
}

using Kind = updater::FetchFailureKind;

struct RangeCase {
    const char* name;
    std::function<void(const std::string& package, testsupport::ScriptedAnswer&)> change;
    // The kind of failure; nothing when the range is taken.
    std::optional<updater::FetchFailureKind> failure;
    // How much of the range reaches the sink (all of it when taken).
    std::uint64_t sunk;
};

const std::uint64_t last = first + length - 1;

const std::vector<RangeCase> rangeCases = {
    {"ExactRange", [](const std::string&, testsupport::ScriptedAnswer&) {}, std::nullopt, length},
    {"WholePackage",
     [](const std::string& package, testsupport::ScriptedAnswer& answer) {
         answer.status = 200;
         answer.headers.erase("content-range");
         answer.body = package;
     },
     Kind::rangesRefused, 0},
    {"NotSatisfiable",
     [](const std::string& package, testsupport::ScriptedAnswer& answer) {
         answer.status = 416;
         answer.headers["content-range"] = "bytes */" + std::to_string(package.size());
         answer.body.clear();
     },
     Kind::rangesRefused, 0},
    {"OtherStart",
     [](const std::string& package, testsupport::ScriptedAnswer& answer) {
         answer.headers["content-range"] = contentRange(first + 1, last + 1, package.size());
         answer.body = package.substr(first + 1, length);
     },
     Kind::rangesRefused, 0},
    {"OtherTotal",
     [](const std::string& package, testsupport::ScriptedAnswer& answer) {
         answer.headers["content-range"] = contentRange(first, last, package.size() + 1);
     },
     Kind::notAsSigned, 0},
    {"OtherLength",
     [](const std::string& package, testsupport::ScriptedAnswer& answer) {
         answer.headers["content-range"] = contentRange(first, last - 1, package.size());
         answer.body.pop_back();
     },
     Kind::rangesRefused, 0},
    // Without a Content-Length the body itself must stop where the range
    // does: the bytes past it never reach the sink.
    {"BodyRunsOn",
     [](const std::string& package, testsupport::ScriptedAnswer& answer) {
         answer.headers.erase("content-length");
         answer.body = package.substr(first, length + 1);
     },
     Kind::rangesRefused, 2 * 64 * 1024},
    {"BodyEndsEarlyWithoutLength",
     [](const std::string&, testsupport::ScriptedAnswer& answer) {
         answer.headers.erase("content-length");
         answer.body.resize(length - 1);
     },
     Kind::rangesRefused, length - 1},
    {"BodyCutShort",
     [](const std::string&, testsupport::ScriptedAnswer& answer) { answer.failsAfter = 100'000; },
     Kind::transferFailed, 100'000},
    {"NoServer",
     [](const std::string&, testsupport::ScriptedAnswer& answer) {
         answer.headers.clear();
         answer.failsAfter = 0;
     },
     Kind::transferFailed, 0},
};

class RangeAnswers : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeAnswers, TakesOnlyTheExactRange) {
    const std::string package = packageBytes();
    testsupport::ScriptedWeb web;
    web.serve(url, package);
    web.change = [&](const testsupport::ScriptedRequest&, testsupport::ScriptedAnswer& answer) {
        GetParam().change(package, answer);
    };
    testsupport::ScriptedServices services(web);
    const auto transfer = services.newInternetTransfer();
    updater::RangeFetch fetch(*transfer, [] {});
    std::string sunk;

    const auto fetched = fetch.fetch(url, first, length, package.size(),
                                     [&sunk](const std::uint8_t* data, std::size_t size) {
                                         sunk.append(reinterpret_cast<const char*>(data), size);
                                     });

    EXPECT_EQ(fetched ? std::nullopt : updater::fetchFailureKind(fetched.failure()),
              GetParam().failure);
    EXPECT_EQ(sunk.size(), GetParam().sunk);
    EXPECT_EQ(sunk, package.substr(first, sunk.size()));
    ASSERT_EQ(web.requests().size(), 1U);
    EXPECT_EQ(web.requests()[0].first, first);
    EXPECT_EQ(web.requests()[0].last, last);
}

INSTANTIATE_TEST_SUITE_P(Answers, RangeAnswers, ::testing::ValuesIn(rangeCases),
                         testsupport::CaseName());

// A range that does not lie in the package is never asked.
TEST(RangeFetch, AsksNothingOutsideThePackage) {
    testsupport::ScriptedWeb web;
    web.serve(url, packageBytes());
    testsupport::ScriptedServices services(web);
    const auto transfer = services.newInternetTransfer();
    updater::RangeFetch fetch(*transfer, [] {});
    const auto ignore = [](const std::uint8_t*, std::size_t) {};
    EXPECT_FALSE(fetch.fetch(url, 0, 0, 300'000, ignore));
    EXPECT_FALSE(fetch.fetch(url, 299'999, 2, 300'000, ignore));
    EXPECT_TRUE(web.requests().empty());
}

} // namespace
