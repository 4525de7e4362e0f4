// The whole update against a publisher on loopback that misbehaves, one
// behaviour per row, aimed at the version check or at the download. Each row
// checks what the user sees (boxes, status line, buttons, bar), the error
// log, and that the installation is untouched unless the row is one the
// update survives.

#include "codemodule/CodeModuleState.h"
#include "fixtures/Activation.h"
#include "platform/SystemServices.h"
#include "platform/files/DiskFileSystem.h"
#include "run/frmUpdater.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/PackageBuilder.h"
#include "testsupport/RawHttpServer.h"
#include "testsupport/ScriptedHttpServer.h"
#include "testsupport/ScriptedToolkit.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <zlib.h>

using updater::frmUpdater;
using updater::UpdaterSettings;

using namespace std::chrono_literals;
using platform::MsgBoxAnswer;
using testsupport::ServerConnection;

namespace {

const std::string versionPath = "/clientfiles/morvane/version.php";
const std::string packagePath = "/clientfiles/morvane/morvane.zip";
const std::string latestText = "You are using the latest version of Morvane";
const std::string successText = "Update Success, Please restart application";
// A host no resolver can find, refused before any query leaves the machine:
// its first label is longer than 63 bytes.
const std::string unresolvableHost = std::string(64, 'u') + ".invalid";

// What the user and the administrator are left with.
enum class Outcome {
    unreachable,    // "Unable to reach server" box, nothing else
    latest,         // "You are using the latest version" line and box
    offered,        // the offer, answered No: the program ends
    downloadFailed, // the run's failure box and log line, bar still shown
    unpackFailed,   // the library's box, one log line, the window open
    updated,        // the new version installed, the program ended
};

// What the server does with one request.
using Reply = std::function<void(ServerConnection&, const std::string& package)>;

struct Behaviour {
    std::string name;
    bool atDownload; // the version check is answered plainly then
    Reply reply;
    Outcome outcome;
    // Something the failure's text names, when the row cares.
    std::string detail = {};
};

std::string head(const std::string& statusLine, const std::string& headers) {
    return "HTTP/1.1 " + statusLine + "\r\nConnection: close\r\n" + headers + "\r\n";
}

Reply answer(std::string status, std::string headers, std::string body) {
    return [=](ServerConnection& c, const std::string&) { c.send(head(status, headers) + body); };
}

// The package with its length.
Reply whole() {
    return [](ServerConnection& c, const std::string& package) {
        c.send(head("200 OK", "Content-Length: " + std::to_string(package.size()) + "\r\n") +
               package);
    };
}

std::string gzipped(const std::string& bytes) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(compressBound(static_cast<uLong>(bytes.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

const Reply resetDuringHeaders = [](ServerConnection& c, const std::string&) {
    c.send("HTTP/1.1 200 OK\r\nContent-Le");
    c.reset();
};

const Reply dripThenStall = [](ServerConnection& c, const std::string& package) {
    if (!c.send(head("200 OK", "Content-Length: " + std::to_string(package.size()) + "\r\n"))) {
        return;
    }
    for (std::size_t i = 0; i < 3 && c.pause(100ms); ++i) {
        c.send(package.substr(i, 1));
    }
    c.stall();
};

const std::vector<Behaviour> behaviours = {
    // Against the version check.
    {"VersionResetDuringHeaders", false, resetDuringHeaders, Outcome::unreachable},
    {"VersionResetDuringBody", false,
     [](ServerConnection& c, const std::string&) {
         c.send(head("200 OK", "Content-Length: 100\r\n") + "1.3");
         c.reset();
     },
     Outcome::unreachable},
    {"VersionShorterThanLength", false, answer("200 OK", "Content-Length: 50\r\n", "1.3.0"),
     Outcome::unreachable},
    {"VersionLongerThanLength", false,
     answer("200 OK", "Content-Length: 5\r\n", "1.2.0 and then 9.9.9"), Outcome::latest},
    {"VersionChunked", false,
     answer("200 OK", "Transfer-Encoding: chunked\r\n", testsupport::chunked("1.3.0\r\n", 1000)),
     Outcome::offered},
    {"VersionCloseDelimited", false, answer("200 OK", "", "1.3.0\r\n"), Outcome::offered},
    {"VersionLengthZero", false, answer("200 OK", "Content-Length: 0\r\n", ""),
     Outcome::unreachable},
    {"VersionLengthBeyond2GiB", false, answer("200 OK", "Content-Length: 3000000000\r\n", "1.3.0"),
     Outcome::unreachable},
    // A web page is no version: a network's sign-in page looks the same.
    {"VersionNotFoundPage", false,
     answer("404 Not Found", "Content-Length: 22\r\n", "<html>Not Found</html>"),
     Outcome::unreachable, "answered with a web page"},
    {"VersionServerErrorPage", false,
     answer("500 Internal Server Error", "Content-Length: 5\r\n", "oops!"), Outcome::latest},
    {"VersionRedirectLoop", false,
     answer("302 Found", "Location: " + versionPath + "\r\nContent-Length: 0\r\n", ""),
     Outcome::unreachable},
    {"VersionEndless", false,
     [](ServerConnection& c, const std::string&) {
         if (c.send(head("200 OK", "") + "1.2.0")) {
             const std::string zeros(64 * 1024, '0');
             while (c.send(zeros)) {
             }
         }
     },
     Outcome::latest},
    {"VersionDripThenStall", false,
     [](ServerConnection& c, const std::string&) {
         c.send(head("200 OK", "Content-Length: 5\r\n"));
         for (char digit : std::string("1.3")) {
             if (!c.pause(100ms) || !c.send(std::string(1, digit))) {
                 return;
             }
         }
         c.stall();
     },
     Outcome::unreachable, "the version request was given up: the server sent nothing for 0.5 s"},
    // Never silent, never done: the request's deadline gives it up.
    {"VersionDripForever", false,
     [](ServerConnection& c, const std::string&) {
         c.send(head("200 OK", "Content-Length: 100000\r\n") + "1.3.0");
         while (c.pause(100ms) && c.send(" ")) {
         }
     },
     Outcome::unreachable,
     "the version request was given up: the server did not finish its answer within 1 s"},
    {"VersionWithNulBytes", false,
     answer("200 OK", "Content-Length: 7\r\n", std::string("1.3\0.0\0", 7)), Outcome::offered},
    // A byte order mark before a major version must not hide it.
    {"VersionWithByteOrderMark", false,
     answer("200 OK", "Content-Length: 8\r\n",
            "\xEF\xBB\xBF"
            "2.0.0"),
     Outcome::offered},
    {"VersionGzipNotAskedFor", false,
     answer("200 OK",
            "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(gzipped("1.3.0").size()) +
                "\r\n",
            gzipped("1.3.0")),
     Outcome::latest},
    {"VersionPartialContent", false,
     answer("206 Partial Content", "Content-Range: bytes 0-4/5\r\nContent-Length: 5\r\n", "1.3.0"),
     Outcome::offered},

    // Against the download, after a plain offer of 1.3.0.
    {"PackageResetDuringHeaders", true, resetDuringHeaders, Outcome::downloadFailed},
    {"PackageResetDuringBody", true,
     [](ServerConnection& c, const std::string& package) {
         c.send(head("200 OK", "Content-Length: " + std::to_string(package.size()) + "\r\n") +
                package.substr(0, package.size() / 2));
         c.reset();
     },
     Outcome::downloadFailed},
    {"PackageShorterThanLength", true,
     [](ServerConnection& c, const std::string& package) {
         c.send(head("200 OK", "Content-Length: " + std::to_string(package.size() + 10) + "\r\n") +
                package);
     },
     Outcome::downloadFailed},
    {"PackageLongerThanLength", true,
     [](ServerConnection& c, const std::string& package) {
         c.send(head("200 OK", "Content-Length: " + std::to_string(package.size()) + "\r\n") +
                package + "trailing junk the length did not announce");
     },
     Outcome::updated},
    // Without a length the percentage cannot be computed: division by zero.
    {"PackageChunked", true,
     [](ServerConnection& c, const std::string& package) {
         c.send(head("200 OK", "Transfer-Encoding: chunked\r\n") +
                testsupport::chunked(package, 1000));
     },
     Outcome::updated},
    // A body without a length runs to the connection's end.
    {"PackageCloseDelimited", true,
     [](ServerConnection& c, const std::string& package) { c.send(head("200 OK", "") + package); },
     Outcome::updated},
    // An empty package is taken as it came and is no zip.
    {"PackageLengthZero", true, answer("200 OK", "Content-Length: 0\r\n", ""),
     Outcome::unpackFailed},
    {"PackageLengthNotANumber", true,
     [](ServerConnection& c, const std::string& package) {
         c.send(head("200 OK", "Content-Length: many\r\n") + package);
     },
     Outcome::downloadFailed},
    {"PackageLengthBeyond2GiB", true,
     [](ServerConnection& c, const std::string& package) {
         c.send(head("200 OK", "Content-Length: 3000000000\r\n") + package);
     },
     Outcome::downloadFailed},
    {"PackageNotFoundPage", true,
     answer("404 Not Found", "Content-Length: 22\r\n", "<html>Not Found</html>"),
     Outcome::unpackFailed},
    {"PackageServerErrorPage", true,
     answer("500 Internal Server Error", "Content-Length: 5\r\n", "oops!"), Outcome::unpackFailed},
    {"PackageRedirected", true,
     [](ServerConnection& c, const std::string& package) {
         static int calls = 0;
         if (++calls % 2 == 1) {
             c.send(
                 head("302 Found", "Location: " + packagePath + "?moved\r\nContent-Length: 0\r\n"));
         } else {
             c.send(head("200 OK", "Content-Length: " + std::to_string(package.size()) + "\r\n") +
                    package);
         }
     },
     Outcome::updated},
    {"PackageRedirectLoop", true,
     answer("302 Found", "Location: " + packagePath + "\r\nContent-Length: 0\r\n", ""),
     Outcome::downloadFailed},
    {"PackagePartialContent", true,
     [](ServerConnection& c, const std::string& package) {
         const std::string size = std::to_string(package.size());
         c.send(head("206 Partial Content", "Content-Range: bytes 0-" +
                                                std::to_string(package.size() - 1) + "/" + size +
                                                "\r\nContent-Length: " + size + "\r\n") +
                package);
     },
     Outcome::updated},
    {"PackageRangeNotSatisfiable", true,
     answer("416 Range Not Satisfiable", "Content-Range: bytes */0\r\nContent-Length: 0\r\n", ""),
     Outcome::unpackFailed},
    {"PackageDripThenStall", true, dripThenStall, Outcome::downloadFailed},
    // Never silent, but far too slow: the download is given up.
    {"PackageDripSlowly", true,
     [](ServerConnection& c, const std::string& package) {
         c.send(head("200 OK", "Content-Length: " + std::to_string(package.size()) + "\r\n"));
         for (std::size_t at = 0; at < package.size() && c.pause(100ms); at += 20) {
             c.send(package.substr(at, 20));
         }
     },
     Outcome::downloadFailed, "the server sent less than 1024 bytes a second for 1 s"},
    {"PackageGzipNotAskedFor", true,
     [](ServerConnection& c, const std::string& package) {
         const std::string body = gzipped(package);
         c.send(head("200 OK", "Content-Encoding: gzip\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\n") +
                body);
     },
     Outcome::unpackFailed},
};

// A publisher whose version check or download is the row's behaviour.
testsupport::ScriptedHttpServer::Script publisherScript(const Behaviour& row,
                                                        const std::string& package) {
    return [&row, package](const std::string& request, ServerConnection& c) {
        const bool version = testsupport::requestPath(request) == versionPath;
        if (version == !row.atDownload) {
            row.reply(c, package);
        } else if (version) {
            c.send(head("200 OK", "Content-Length: 7\r\n") + "1.3.0\r\n");
        } else {
            whole()(c, package);
        }
    };
}

// A real installation with morvane.exe 1.2.0.5, the real unzip library and
// the window over the scripted toolkit; transfers give up after half a
// second of silence, a version request after a second, a download slower
// than 1 KiB/s over a second, so that a stalled or slow server costs little.
class UpdateAgainstServer {
public:
    UpdateAgainstServer(const std::string& versionHost, const std::string& packageHost)
        : install(root / "Morvane"), services(platform::TransferLimits{500ms, 1s, 1024, 1s}) {
        testsupport::TempDir::makeFolder(install);
        testsupport::writeVersionedExecutable(install + "/morvane.exe", "1.2.0.5");
        before = testsupport::readFile(install + "/morvane.exe");
        CodeModule::setLibraryFolder(REAL_UNZIP32_FOLDER);
        const UpdaterSettings settings{install, versionHost, packageHost, ""};
        form = std::make_unique<frmUpdater>(ui, ui, services, settings);
        form->Form_Load();
    }

    bool run() { return activateUntilEnd(*form); }

    std::string installedVersion() const {
        return platform::DiskFileSystem().GetFileVersion(install + "/morvane.exe");
    }
    bool untouched() const { return testsupport::readFile(install + "/morvane.exe") == before; }
    std::string log() const {
        return testsupport::exists(install + "/NoteError.txt")
                   ? testsupport::readFile(install + "/NoteError.txt")
                   : std::string();
    }

    testsupport::TempDir root;
    std::string install;
    std::string before;
    platform::ScriptedToolkit ui;
    platform::SystemServices services;
    std::unique_ptr<frmUpdater> form;
};

std::string newPackage() {
    testsupport::TempDir scratch;
    testsupport::writeVersionedExecutable(scratch / "morvane.exe", "1.3.0.0");
    testsupport::buildPackage(scratch / "package.zip",
                              {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"},
                               {"morvane.exe", testsupport::readFile(scratch / "morvane.exe")}});
    return testsupport::readFile(scratch / "package.zip");
}

long lines(const std::string& text) {
    return std::count(text.begin(), text.end(), '\n');
}

// Checks what the row's outcome leaves, given that `ended` says whether
// the program ended.
void expectOutcome(UpdateAgainstServer& update, bool ended, Outcome outcome,
                   const std::string& detail) {
    const auto& boxes = update.ui.messageBoxes();
    const std::string log = update.log();
    switch (outcome) {
    case Outcome::unreachable:
        EXPECT_FALSE(ended);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].prompt.rfind("Unable to reach server", 0), 0u) << boxes[0].prompt;
        EXPECT_EQ(boxes[0].style, 64);
        EXPECT_EQ(update.ui.lblMessage().caption(), "");
        // What stood in the way is logged, once, and follows the box's text.
        EXPECT_EQ(lines(log), 1) << log;
        EXPECT_NE(log.find(",\"Updater: Version the version "), std::string::npos) << log;
        EXPECT_NE(log.find(detail), std::string::npos) << log;
        EXPECT_NE(boxes[0].prompt.find("\r\nThe version "), std::string::npos) << boxes[0].prompt;
        break;
    case Outcome::latest:
        EXPECT_FALSE(ended);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].prompt, latestText);
        EXPECT_EQ(update.ui.lblMessage().caption(), latestText);
        EXPECT_EQ(log, "");
        break;
    case Outcome::offered:
        EXPECT_TRUE(ended);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].prompt, "New version found, Do you want to update");
        EXPECT_EQ(log, "");
        break;
    case Outcome::downloadFailed:
        EXPECT_FALSE(ended);
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[1].title, "Updater: Download");
        EXPECT_EQ(boxes[1].prompt.rfind("Error Contact Administrator.", 0), 0u);
        EXPECT_NE(boxes[1].prompt.find(detail), std::string::npos) << boxes[1].prompt;
        EXPECT_EQ(lines(log), 1) << log;
        EXPECT_NE(log.find(",\"Updater: Download "), std::string::npos) << log;
        EXPECT_TRUE(update.ui.ProgressBar1().isVisible());
        EXPECT_EQ(update.ui.lblMessage().caption(), "The update did not complete");
        break;
    case Outcome::unpackFailed:
        EXPECT_FALSE(ended);
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[1].style, 0); // the library's messages
        EXPECT_EQ(lines(log), 1) << log;
        EXPECT_NE(log.find("the package could not be unpacked"), std::string::npos) << log;
        EXPECT_EQ(update.ui.lblMessage().caption(), "The update did not complete");
        break;
    case Outcome::updated:
        EXPECT_TRUE(ended);
        EXPECT_EQ(update.installedVersion(), "1.3.0.0");
        EXPECT_EQ(update.ui.lblMessage().caption(), successText);
        EXPECT_EQ(log, "");
        return;
    }
    EXPECT_TRUE(update.untouched());
    if (!ended) {
        EXPECT_TRUE(update.ui.cmdDownload().isEnabled());
    }
}

class HostileServerTest : public ::testing::TestWithParam<Behaviour> {};

TEST_P(HostileServerTest, UserSeesTheDesignedOutcome) {
    const Behaviour& row = GetParam();
    static const std::string package = newPackage();
    testsupport::ScriptedHttpServer server(publisherScript(row, package));
    UpdateAgainstServer update(server.host(), server.host());
    update.ui.answerNext(row.atDownload ? MsgBoxAnswer::yes : MsgBoxAnswer::no);

    const bool ended = update.run();

    expectOutcome(update, ended, row.outcome, row.detail);
}

INSTANTIATE_TEST_SUITE_P(Behaviours, HostileServerTest, ::testing::ValuesIn(behaviours),
                         [](const ::testing::TestParamInfo<Behaviour>& row) {
                             return row.param.name;
                         });

// Servers that are not there, and the one on the IPv6 loopback.
TEST(HostileServerHosts, VersionServerRefusingConnectionsIsUnreachable) {
    UpdateAgainstServer update("127.0.0.1:" + std::to_string(testsupport::refusedPort()),
                               "127.0.0.1:1");
    EXPECT_FALSE(update.run());
    expectOutcome(update, false, Outcome::unreachable, "");
}

TEST(HostileServerHosts, PackageServerRefusingConnectionsFailsTheDownload) {
    const Behaviour plain{"plain", true, whole(), Outcome::updated};
    testsupport::ScriptedHttpServer server(publisherScript(plain, newPackage()));
    UpdateAgainstServer update(server.host(),
                               "127.0.0.1:" + std::to_string(testsupport::refusedPort()));
    update.ui.answerNext(MsgBoxAnswer::yes);
    const bool ended = update.run();
    expectOutcome(update, ended, Outcome::downloadFailed, "");
}

TEST(HostileServerHosts, UnresolvableVersionHostIsUnreachable) {
    UpdateAgainstServer update(unresolvableHost, unresolvableHost);
    EXPECT_FALSE(update.run());
    expectOutcome(update, false, Outcome::unreachable, "");
    EXPECT_NE(update.ui.messageBoxes()[0].prompt.find(unresolvableHost), std::string::npos);
}

TEST(HostileServerHosts, UnresolvablePackageHostFailsTheDownload) {
    const Behaviour plain{"plain", true, whole(), Outcome::updated};
    testsupport::ScriptedHttpServer server(publisherScript(plain, newPackage()));
    UpdateAgainstServer update(server.host(), unresolvableHost);
    update.ui.answerNext(MsgBoxAnswer::yes);
    const bool ended = update.run();
    expectOutcome(update, ended, Outcome::downloadFailed, "");
}

TEST(HostileServerHosts, PublisherOnIpv6LoopbackUpdates) {
    const Behaviour plain{"plain", true, whole(), Outcome::updated};
    testsupport::ScriptedHttpServer server(publisherScript(plain, newPackage()), true);
    ASSERT_EQ(server.host().rfind("[::1]:", 0), 0u);
    UpdateAgainstServer update(server.host(), server.host());
    update.ui.answerNext(MsgBoxAnswer::yes);
    const bool ended = update.run();
    expectOutcome(update, ended, Outcome::updated, "");
}

} // namespace
