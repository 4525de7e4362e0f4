#include "platform/Error.h"
#include "platform/http/CurlHttpRequest.h"
#include "platform/http/NetworkFailure.h"
#include "testsupport/AnswerGate.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/PatternedBytes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

namespace {

using platform::CurlHttpRequest;
using testsupport::LoopbackServer;

const std::string userAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

std::string get(const std::string& url,
                std::chrono::milliseconds silence = CurlHttpRequest::defaultSilenceLimit) {
    CurlHttpRequest request(silence);
    request.Open("GET", url, false);
    request.setRequestHeader("User-Agent", userAgent);
    request.send();
    return request.responseText();
}

// The headers as sent, without the entries the test server adds of its own.
std::set<std::string> sentHeaderNames(const testsupport::ReceivedRequest& received) {
    std::set<std::string> names;
    for (const auto& [name, value] : received.headers) {
        if (name.rfind("REMOTE_", 0) != 0 && name.rfind("LOCAL_", 0) != 0) {
            names.insert(name);
        }
    }
    return names;
}

TEST(HttpRequest, SendsTheRequestLineAndOnlyTheCallersHeaders) {
    LoopbackServer server;
    server.server().Get("/clientfiles/morvane/version.php",
                        [](const httplib::Request&, httplib::Response& res) {
                            res.set_content("2.1.7\r\n", "text/plain");
                        });
    server.start();

    EXPECT_EQ(get("http://" + server.host() + "/clientfiles/morvane/version.php"), "2.1.7\r\n");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/clientfiles/morvane/version.php");
    EXPECT_EQ(requests[0].body, "");
    EXPECT_EQ(requests[0].headers.find("User-Agent")->second, userAgent);
    EXPECT_EQ(sentHeaderNames(requests[0]), (std::set<std::string>{"Host", "User-Agent"}));
}

TEST(HttpRequest, ReturnsTheBodyWhateverTheStatus) {
    for (int status : {200, 301, 404, 500, 503}) {
        SCOPED_TRACE(status);
        LoopbackServer server;
        server.server().Get("/v", [status](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content("3.0." + std::to_string(status), "text/plain");
        });
        server.start();
        EXPECT_EQ(get("http://" + server.host() + "/v"), "3.0." + std::to_string(status));
    }
}

TEST(HttpRequest, KeepsAtMostTheCapOfTheBody) {
    const std::size_t cap = CurlHttpRequest::responseCap;
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, cap - 1, cap, cap + 1, std::size_t{10} * 1024 * 1024}) {
        SCOPED_TRACE(size);
        LoopbackServer server;
        server.server().Get("/big", [size](const httplib::Request&, httplib::Response& res) {
            if (size == 0) {
                res.set_content("", "application/octet-stream");
                return;
            }
            res.set_content_provider(
                size, "application/octet-stream",
                [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    const std::string piece =
                        testsupport::patternedBytes(std::min<std::size_t>(length, 65536), offset);
                    return sink.write(piece.data(), piece.size());
                });
        });
        server.start();
        const std::string body = get("http://" + server.host() + "/big");
        EXPECT_EQ(body.size(), std::min(size, cap));
        EXPECT_TRUE(body == testsupport::patternedBytes(body.size()));
    }
}

TEST(HttpRequest, FollowsRedirectsUpToTen) {
    LoopbackServer server;
    server.server().Get("/old", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/hop/1");
    });
    server.server().Get(R"(/hop/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const int hop = std::stoi(req.matches[1]);
        if (hop < 9) {
            res.set_redirect("/hop/" + std::to_string(hop + 1));
        } else {
            res.set_content("1.2.6", "text/plain");
        }
    });
    server.server().Get("/loop", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/loop");
    });
    server.start();

    // /old plus nine hops is ten redirects: still followed, and the request
    // says where they led.
    CurlHttpRequest request;
    request.Open("GET", "http://" + server.host() + "/old", false);
    request.send();
    EXPECT_EQ(request.responseText(), "1.2.6");
    EXPECT_EQ(request.redirectedTo(), "http://" + server.host() + "/hop/9");
    EXPECT_EQ(server.requests().back().path, "/hop/9");
    try {
        get("http://" + server.host() + "/loop");
        ADD_FAILURE() << "an endless redirect was answered";
    } catch (const platform::Error& error) {
        EXPECT_EQ(platform::networkFailureKind(error.number()),
                  platform::NetworkFailureKind::tooManyRedirects);
    }
    request.Open("GET", "http://" + server.host() + "/hop/9", false);
    request.send();
    EXPECT_EQ(request.redirectedTo(), "");
}

TEST(HttpRequest, RefusedConnectionRaisesWithCurlsDescription) {
    const std::string url = "http://127.0.0.1:" + std::to_string(testsupport::refusedPort()) + "/v";
    try {
        get(url);
        FAIL() << "no error raised";
    } catch (const platform::Error& error) {
        EXPECT_GE(error.number(), platform::ErrorNumber::objectDefinedBase);
        EXPECT_NE(error.description().find("127.0.0.1"), std::string::npos) << error.description();
        EXPECT_EQ(error.source(), "HttpRequest::send");
    }
}

TEST(HttpRequest, SilentServerFailsAfterTheSilenceLimit) {
    LoopbackServer server;
    testsupport::AnswerGate gate;
    server.server().Get("/silent",
                        [hold = gate.holder()](const httplib::Request&, httplib::Response& res) {
                            hold();
                            res.set_content("late", "text/plain");
                        });
    server.start();

    CurlHttpRequest request(std::chrono::seconds(1));
    request.Open("GET", "http://" + server.host() + "/silent", false);
    EXPECT_THROW(request.send(), platform::Error);
    EXPECT_EQ(request.responseText(), "");
}

TEST(HttpRequest, MisuseRaisesInvalidCall) {
    const auto expectInvalidCall = [](auto&& action) {
        CurlHttpRequest request;
        try {
            action(request);
            ADD_FAILURE() << "no error raised";
        } catch (const platform::Error& error) {
            EXPECT_EQ(error.number(), platform::ErrorNumber::invalidCall);
        }
    };
    expectInvalidCall([](CurlHttpRequest& r) { r.send(); });
    expectInvalidCall([](CurlHttpRequest& r) { r.setRequestHeader("User-Agent", "x"); });
    expectInvalidCall([](CurlHttpRequest& r) { r.Open("GET", "http://127.0.0.1:1/", true); });
    expectInvalidCall([](CurlHttpRequest& r) {
        r.Open("GET", "http://127.0.0.1:1/", false);
        r.setRequestHeader("User-Agent", "x\r\nInjected: yes");
        r.send();
    });
}

} // namespace
