// A download cut off part way is gone on with by the next one when it is the
// same package: only the rest is asked for, and whatever answer does not fit
// starts the package over. Each case cuts a first download off after the
// same bytes, then answers the next one its own way.
#include "fetch/PackageDownload.h"
#include "fixtures/WindowlessContext.h"
#include "platform/Error.h"
#include "platform/http/CurlInternetTransfer.h"
#include "testsupport/CaseName.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/ScriptedHttpServer.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <vector>

namespace {

using testsupport::ServerConnection;

const std::string package = testsupport::patternedBytes(300 * 1024);
constexpr std::size_t cutAfter = 100000;
const std::string total = std::to_string(package.size());
const std::string restRange =
    "bytes " + std::to_string(cutAfter) + "-" + std::to_string(package.size() - 1) + "/" + total;

std::string head(const std::string& status, const std::string& fields) {
    return "HTTP/1.1 " + status + "\r\n" + fields + "Connection: close\r\n\r\n";
}

// The rest of a package from a byte on, as the validators name it.
std::string partial(const std::string& range, std::size_t from, const std::string& validators,
                    const std::string& bytes = package) {
    return head("206 Partial Content", "Content-Range: " + range + "\r\nContent-Length: " +
                                           std::to_string(bytes.size() - from) + "\r\n" +
                                           validators) +
           bytes.substr(from);
}

// The same size, other bytes: a package published again since the cut.
const std::string republished = testsupport::patternedBytes(300 * 1024, 7);

const std::string whole = head("200 OK", "Content-Length: " + total + "\r\n") + package;

struct ResumeCase {
    const char* name;
    bool keyed;
    std::string validators; // the first answer's ETag / Last-Modified lines
    std::string answer;     // to the second request
    // The Range (and If-Range) lines of every request after the first.
    std::vector<std::string> asked;
    bool goesOn;            // the second download takes only the rest
    bool spoilKept = false; // a byte of the kept part changed in between
};

class ResumedDownload : public ::testing::TestWithParam<ResumeCase> {};

const std::string fromStart = "Range: bytes=0-\r\n";
const std::string forTheRest = "Range: bytes=" + std::to_string(cutAfter) + "-\r\n";
const std::string etag = "ETag: \"5f-1a\"\r\n";

TEST_P(ResumedDownload, GoesOnOnlyWithTheSamePackage) {
    const ResumeCase& c = GetParam();
    std::mutex lock;
    std::vector<std::string> requests;
    std::size_t bodyBytes = 0;
    testsupport::ScriptedHttpServer server([&](const std::string& request, ServerConnection& con) {
        std::size_t index = 0;
        {
            const std::lock_guard<std::mutex> hold(lock);
            index = requests.size();
            requests.push_back(request.substr(request.find("Range:")));
        }
        // The first is cut off; a request from the start gets the package.
        const std::string reply =
            index == 0 ? head("200 OK", "Content-Length: " + total + "\r\n" + c.validators) +
                             package.substr(0, cutAfter)
            : request.find(fromStart) != std::string::npos ? whole
                                                           : c.answer;
        {
            const std::lock_guard<std::mutex> hold(lock);
            bodyBytes += reply.size() - reply.find("\r\n\r\n") - 4;
        }
        con.send(reply);
    });
    testsupport::TempDir folder;
    platform::CurlInternetTransfer transfer;
    updater::PackageDownload::Announced announced;
    if (c.keyed) {
        signature::ReleaseLine line;
        line.size = package.size();
        signature::ArrivingPackage digest;
        digest.add(reinterpret_cast<const std::uint8_t*>(package.data()), package.size());
        line.sha512 = digest.digest();
        announced = line;
    }
    std::vector<double> progress;
    WindowlessContext context;
    updater::PackageDownload download(transfer, context, [&](const std::string& percent) {
        progress.push_back(std::stod(percent));
    });
    const std::string file = folder / "morvane.zip";
    const std::string url = "http://" + server.host() + "/clientfiles/morvane/morvane.zip";
    EXPECT_THROW(download.download(url, file, announced), platform::Error);
    ASSERT_EQ(testsupport::readFile(file).size(), cutAfter);
    if (c.spoilKept) {
        std::string kept = testsupport::readFile(file);
        kept[cutAfter / 2] ^= 1;
        testsupport::writeFile(file, kept);
    }
    progress.clear();

    download.download(url, file, announced);

    EXPECT_TRUE(testsupport::readFile(file) == package);
    EXPECT_FALSE(testsupport::exists(file + ".resume"));
    ASSERT_EQ(requests.size(), 1 + c.asked.size());
    EXPECT_EQ(requests[0], fromStart + "\r\n");
    for (std::size_t i = 0; i < c.asked.size(); ++i) {
        EXPECT_EQ(requests[i + 1], c.asked[i] + "\r\n") << i;
    }
    // A package gone on with costs its bytes once, and its bar begins
    // where it stopped.
    if (c.goesOn) {
        EXPECT_EQ(bodyBytes, package.size());
        EXPECT_NEAR(progress.front(), 100.0 * cutAfter / static_cast<double>(package.size()), 0.5);
    }
    EXPECT_EQ(progress.back(), 100);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ResumedDownload,
    ::testing::Values(
        ResumeCase{"TheRest",
                   true,
                   etag,
                   partial(restRange, cutAfter, etag),
                   {forTheRest + "If-Range: \"5f-1a\"\r\n"},
                   true},
        ResumeCase{"TheRestByDateWithoutKey",
                   false,
                   "ETag: W/\"5f\"\r\nLast-Modified: Tue, 08 Dec 2026 10:00:00 GMT\r\n",
                   partial(restRange, cutAfter, "Last-Modified: Tue, 08 Dec 2026 10:00:00 GMT\r\n"),
                   {forTheRest + "If-Range: Tue, 08 Dec 2026 10:00:00 GMT\r\n"},
                   true},
        // A file served within a second of being written is named by a weak
        // ETag, later by a strong one: the date asked with still names it.
        ResumeCase{"TheRestByDateNowWithAStrongETag",
                   false,
                   "ETag: W/\"5f\"\r\nLast-Modified: Tue, 08 Dec 2026 10:00:00 GMT\r\n",
                   partial(restRange, cutAfter,
                           "ETag: \"5f\"\r\nLast-Modified: Tue, 08 Dec 2026 10:00:00 GMT\r\n"),
                   {forTheRest + "If-Range: Tue, 08 Dec 2026 10:00:00 GMT\r\n"},
                   true},
        ResumeCase{"TheRestWithoutValidatorsButKeyed",
                   true,
                   "",
                   partial(restRange, cutAfter, ""),
                   {forTheRest},
                   true},
        // A server or cache that ignores If-Range sends the rest of what it
        // has now: without a key only its validator tells, and it is not
        // the kept part's, so the package starts over in the same run.
        ResumeCase{"RepublishedAndIfRangeIgnoredWithoutKey",
                   false,
                   etag,
                   partial(restRange, cutAfter, "ETag: \"6a-2b\"\r\n", republished),
                   {forTheRest + "If-Range: \"5f-1a\"\r\n", fromStart},
                   false},
        ResumeCase{"RepublishedByDateAndIfRangeIgnoredWithoutKey",
                   false,
                   "Last-Modified: Tue, 08 Dec 2026 10:00:00 GMT\r\n",
                   partial(restRange, cutAfter, "Last-Modified: Wed, 09 Dec 2026 10:00:00 GMT\r\n",
                           republished),
                   {forTheRest + "If-Range: Tue, 08 Dec 2026 10:00:00 GMT\r\n", fromStart},
                   false},
        ResumeCase{"TheRestUnnamedWithoutKey",
                   false,
                   etag,
                   partial(restRange, cutAfter, ""),
                   {forTheRest + "If-Range: \"5f-1a\"\r\n", fromStart},
                   false},
        // Nothing the server could confirm, nothing announced: from the start.
        ResumeCase{"NoValidatorWithoutKey", false, "", "", {fromStart}, false},
        ResumeCase{
            "WholeAgain", true, etag, whole, {forTheRest + "If-Range: \"5f-1a\"\r\n"}, false},
        ResumeCase{"AnotherRange",
                   true,
                   etag,
                   partial("bytes 0-307199/307200", 0, etag),
                   {forTheRest + "If-Range: \"5f-1a\"\r\n", fromStart},
                   false},
        ResumeCase{"AnotherTotal",
                   true,
                   etag,
                   partial("bytes 100000-307200/307201", cutAfter, etag),
                   {forTheRest + "If-Range: \"5f-1a\"\r\n", fromStart},
                   false},
        ResumeCase{"RangeNotSatisfiable",
                   false,
                   etag,
                   head("416 Range Not Satisfiable",
                        "Content-Range: bytes */" + total + "\r\nContent-Length: 0\r\n"),
                   {forTheRest + "If-Range: \"5f-1a\"\r\n", fromStart},
                   false},
        ResumeCase{"KeptBytesSpoilt",
                   true,
                   etag,
                   partial(restRange, cutAfter, etag),
                   {forTheRest + "If-Range: \"5f-1a\"\r\n", fromStart},
                   false,
                   true}),
    testsupport::CaseName());

} // namespace
