// A download bound to what the signed version answer announced: its size and
// SHA-512. A server that sends another length, more, less or other bytes is
// refused, and never more than the announced size is written.
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

namespace {

using testsupport::ServerConnection;

const std::string package = testsupport::patternedBytes(300 * 1024);

signature::ReleaseLine announcing(const std::string& bytes) {
    signature::ReleaseLine line;
    line.version = "1.3.0";
    line.size = bytes.size();
    signature::ArrivingPackage digest;
    digest.add(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    line.sha512 = digest.digest();
    return line;
}

std::string head(const std::string& fields) {
    return "HTTP/1.1 200 OK\r\n" + fields + "Connection: close\r\n\r\n";
}

struct BoundCase {
    const char* name;
    std::function<void(ServerConnection&)> reply;
    std::string failure; // a piece of the failure's description; empty: none
    std::size_t mostWritten;
};

class BoundDownload : public ::testing::TestWithParam<BoundCase> {};

TEST_P(BoundDownload, TakesOnlyTheAnnouncedPackage) {
    const BoundCase& c = GetParam();
    testsupport::ScriptedHttpServer server(
        [&c](const std::string&, ServerConnection& connection) { c.reply(connection); });
    testsupport::TempDir folder;
    platform::CurlInternetTransfer transfer;
    const updater::PackageDownload::Announced announced = announcing(package);
    WindowlessContext context;
    updater::PackageDownload download(transfer, context, [](const std::string&) {});
    const std::string file = folder / "morvane.zip";

    std::string failure;
    std::uint64_t arrived = 0;
    try {
        arrived = download
                      .download("http://" + server.host() + "/clientfiles/morvane/morvane.zip",
                                file, announced)
                      .size();
    } catch (const platform::Error& error) {
        failure = error.description();
    }

    if (c.failure.empty()) {
        EXPECT_EQ(failure, "");
        EXPECT_TRUE(testsupport::readFile(file) == package);
        EXPECT_EQ(arrived, package.size());
    } else {
        EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
    }
    const std::size_t written = testsupport::exists(file) ? testsupport::readFile(file).size() : 0;
    EXPECT_LE(written, c.mostWritten);
}

const std::string wholeLength = "Content-Length: " + std::to_string(package.size()) + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Servers, BoundDownload,
    ::testing::Values(
        BoundCase{"AsAnnounced", [](ServerConnection& c) { c.send(head(wholeLength) + package); },
                  "", package.size()},
        // Refused before a byte of the body is written.
        BoundCase{"LongerLength",
                  [](ServerConnection& c) {
                      c.send(
                          head("Content-Length: " + std::to_string(package.size() + 1) + "\r\n") +
                          package + "x");
                  },
                  "the server sends 307201 bytes, but the version answer announced 307200; a "
                  "cache between here and the publisher may still hold an earlier package",
                  0},
        // Endless data without a length: cut off at the announced size.
        BoundCase{"EndlessWithoutLength",
                  [](ServerConnection& c) {
                      if (c.send(head("") + package)) {
                          const std::string more(64 * 1024, 'z');
                          while (c.send(more)) {
                          }
                      }
                  },
                  "it is longer than the 307200 bytes the version answer announced",
                  package.size()},
        BoundCase{"ShorterWithoutLength",
                  [](ServerConnection& c) { c.send(head("") + package.substr(10)); },
                  "the package ended after 307190 of 307200 bytes", package.size()},
        BoundCase{"OtherBytesOfTheSameSize",
                  [](ServerConnection& c) {
                      c.send(head(wholeLength) + testsupport::patternedBytes(package.size(), 1));
                  },
                  "the package was refused: it is not the package the version answer "
                  "announced; a cache between here and the publisher may still hold an earlier "
                  "package, so the next run may find the right one",
                  package.size()}),
    testsupport::CaseName());

} // namespace
