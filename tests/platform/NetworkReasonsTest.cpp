// Why a request failed, as the user and the administrator read it: each
// combination of what the transfer library and the connection reported
// comes to one kind, and no reason ever shows the proxy's password.
#include "platform/http/NetworkReasons.h"
#include "platform/http/NetworkFailure.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

using platform::NetworkFailureKind;
using platform::TransferFacts;

TransferFacts direct(int code) {
    TransferFacts facts;
    facts.code = code;
    facts.url = "https://updates.example:8443/clientfiles/morvane/version.php";
    facts.detail = "the library's words";
    return facts;
}

TransferFacts proxied(int code) {
    TransferFacts facts = direct(code);
    facts.proxy = "proxy.example:3128";
    facts.proxyNamedBy = "https_proxy";
    return facts;
}

struct ReasonCase {
    const char* name;
    TransferFacts facts;
    std::optional<NetworkFailureKind> kind; // nothing: the library's own number
};

TransferFacts with(TransferFacts facts, void (*change)(TransferFacts&)) {
    change(facts);
    return facts;
}

const ReasonCase reasonCases[] = {
    {"NameUnknown", direct(CURLE_COULDNT_RESOLVE_HOST), NetworkFailureKind::nameNotFound},
    {"Refused", with(direct(CURLE_COULDNT_CONNECT), [](auto& f) { f.systemError = ECONNREFUSED; }),
     NetworkFailureKind::refused},
    {"NoRoute", with(direct(CURLE_COULDNT_CONNECT), [](auto& f) { f.systemError = ENETUNREACH; }),
     NetworkFailureKind::noRoute},
    {"ProxyNameUnknown", proxied(CURLE_COULDNT_RESOLVE_PROXY),
     NetworkFailureKind::proxyUnreachable},
    {"ProxyNotListening",
     with(proxied(CURLE_COULDNT_CONNECT), [](auto& f) { f.systemError = ECONNREFUSED; }),
     NetworkFailureKind::proxyUnreachable},
    {"PlainProxyAsksCredentials", with(proxied(CURLE_OK), [](auto& f) { f.proxyAnswer = 407; }),
     NetworkFailureKind::proxyCredentials},
    {"TunnelAsksCredentials", with(proxied(CURLE_RECV_ERROR), [](auto& f) { f.proxyAnswer = 407; }),
     NetworkFailureKind::proxyCredentials},
    {"TunnelForbidden", with(proxied(CURLE_RECV_ERROR), [](auto& f) { f.proxyAnswer = 403; }),
     NetworkFailureKind::proxyRefused},
    {"UnknownIssuer",
     with(direct(CURLE_PEER_FAILED_VERIFICATION),
          [](auto& f) { f.untrustedIssuer = "/CN=Inspecting Proxy CA"; }),
     NetworkFailureKind::certificateUntrusted},
    {"WrongName", direct(CURLE_PEER_FAILED_VERIFICATION), NetworkFailureKind::certificateInvalid},
    {"ExpiredUnderAnUnknownIssuer",
     with(direct(CURLE_PEER_FAILED_VERIFICATION),
          [](auto& f) {
              f.untrustedIssuer = "/CN=Somebody";
              f.certificateInvalid = true;
          }),
     NetworkFailureKind::certificateInvalid},
    {"Handshake", direct(CURLE_SSL_CONNECT_ERROR), NetworkFailureKind::secureConnectionFailed},
    {"UnreadableAuthorities",
     with(direct(CURLE_SSL_CERTPROBLEM),
          [](auto& f) { f.authoritiesFault = "the file holds no certificate"; }),
     NetworkFailureKind::secureConnectionFailed},
    {"SecureToPlain",
     with(direct(CURLE_UNSUPPORTED_PROTOCOL),
          [](auto& f) { f.lastUrl = "http://updates.example/clientfiles/morvane/version.php"; }),
     NetworkFailureKind::redirectRefused},
    {"EndlessRedirects", direct(CURLE_TOO_MANY_REDIRECTS), NetworkFailureKind::tooManyRedirects},
    // A transfer cut off or given up keeps the number the download's
    // resumption and the check's log have always known.
    {"BodyCutShort", direct(CURLE_PARTIAL_FILE), std::nullopt},
    {"ConnectionReset", direct(CURLE_RECV_ERROR), std::nullopt},
    {"ConnectTimeout", direct(CURLE_OPERATION_TIMEDOUT), std::nullopt},
};

class NetworkReasons : public ::testing::TestWithParam<ReasonCase> {};

TEST_P(NetworkReasons, EachCaseComesToItsKind) {
    const ReasonCase& c = GetParam();
    const platform::Error told = platform::networkFailure(c.facts, "Inet1");
    EXPECT_EQ(told.source(), "Inet1");
    if (c.kind) {
        EXPECT_EQ(told.number(), platform::networkFailureNumber(*c.kind));
        EXPECT_EQ(platform::networkFailureKind(told.number()), c.kind);
        // The library's words stay, after what to change.
        EXPECT_NE(told.description().find("the library's words"), std::string::npos);
    } else {
        EXPECT_EQ(told.number(), platform::ErrorNumber::objectDefinedBase + c.facts.code);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, NetworkReasons, ::testing::ValuesIn(reasonCases),
                         [](const auto& each) { return std::string(each.param.name); });

TEST(NetworkReasons, OldNumbersKeepTheirKinds) {
    using platform::ErrorNumber;
    const struct {
        std::int32_t number;
        std::optional<NetworkFailureKind> kind;
    } cases[] = {
        {ErrorNumber::objectDefinedBase + CURLE_PARTIAL_FILE, NetworkFailureKind::connectionLost},
        {ErrorNumber::objectDefinedBase + CURLE_RECV_ERROR, NetworkFailureKind::connectionLost},
        {ErrorNumber::objectDefinedBase + CURLE_OPERATION_TIMEDOUT, NetworkFailureKind::timedOut},
        {ErrorNumber::objectDefinedBase + CURLE_WEIRD_SERVER_REPLY, NetworkFailureKind::other},
        // A kind added later is still the network's.
        {platform::networkFailed + 0x3f, static_cast<NetworkFailureKind>(0x3f)},
        {platform::networkFailedEnd, std::nullopt},
        {ErrorNumber::fileNotFound, std::nullopt},
        {ErrorNumber::objectDefinedBase + 0x200, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::networkFailureKind(c.number), c.kind) << c.number;
    }
}

TEST(NetworkReasons, ARedirectedRequestNamesWhereItWasSent) {
    TransferFacts facts = direct(CURLE_COULDNT_RESOLVE_HOST);
    facts.redirects = 2;
    facts.lastUrl = "https://portal.hotel.example/login";
    const platform::Error told = platform::networkFailure(facts, "Inet1");
    EXPECT_NE(told.description().find(facts.lastUrl), std::string::npos) << told.description();
}

} // namespace
