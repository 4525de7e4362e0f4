// nginx's request log read back: the evidence of what a route carried.
#include "testsupport/NginxServer.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    const char* line;
    bool read;
    int status = 0;
    std::uint64_t bytes = 0;
    const char* range = "";
    const char* path = "";
};

TEST(RequestLog, EachLineReadsAsOneRequestOrNone) {
    const Row rows[] = {
        {R"(206 5592405 "bytes=2796203-" GET /clientfiles/morvane/morvane.zip)", true, 206, 5592405,
         "bytes=2796203-", "/clientfiles/morvane/morvane.zip"},
        {R"(200 120 "-" GET /clientfiles/morvane/version.php)", true, 200, 120, "",
         "/clientfiles/morvane/version.php"},
        {R"(206 20 "bytes=0-9, 20-29" GET /a)", true, 206, 20, "bytes=0-9, 20-29", "/a"},
        {R"(499 0 "" GET /a)", true, 499, 0, "", "/a"},
        // Cut short, or not this log's format.
        {R"(206 20 "bytes=0-9 GET /a)", false},
        {R"(206 "-" GET /a)", false},
        {R"(206 20 "-" GET)", false},
        {R"(206 20 "-" GET /a HTTP/1.1)", false},
        {"", false},
    };
    for (const Row& row : rows) {
        const auto requests = testsupport::loggedRequests(row.line);
        ASSERT_EQ(requests.size(), row.read ? 1u : 0u) << row.line;
        if (row.read) {
            EXPECT_EQ(requests[0].status, row.status) << row.line;
            EXPECT_EQ(requests[0].bytes, row.bytes) << row.line;
            EXPECT_EQ(requests[0].range, row.range) << row.line;
            EXPECT_EQ(requests[0].method, "GET") << row.line;
            EXPECT_EQ(requests[0].path, row.path) << row.line;
        }
    }
}

TEST(RequestLog, LinesThatDoNotReadAreLeftOutOfTheRest) {
    const auto requests =
        testsupport::loggedRequests("200 1 \"-\" GET /a\nnoise\n206 2 \"bytes=1-\" GET /b\n");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].path, "/b");
}

} // namespace
