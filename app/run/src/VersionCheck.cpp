#include "run/VersionCheck.h"

#include "app/InstallationPaths.h"
#include "platform/Error.h"
#include "platform/http/NetworkFailure.h"
#include "run/ReleaseKeys.h"
#include "run/UpdateDecision.h"
#include "text/Pieces.h"

#include <memory>

namespace updater {

namespace {

const char* const userAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

} // namespace

using platform::skipOnFailure;

VersionCheck::VersionCheck(platform::Services& services, StageContext& context,
                           std::string applicationPath, std::string versionAddress, KeySetting keys,
                           std::string trustRecord, std::function<std::int64_t()> clock)
    : m_services(services), m_context(context), m_applicationPath(std::move(applicationPath)),
      m_versionAddress(std::move(versionAddress)), m_keys(std::move(keys)),
      m_trustRecord(std::move(trustRecord)), m_clock(std::move(clock)) {}

void VersionCheck::readInstalledVersion() {
    const std::string& path = m_applicationPath;
    bool present = false;
    skipOnFailure([&] { present = m_context.files().FileExists(path); });
    m_installedText.clear();
    if (!present) {
        strLocalVer1.clear();
        strLocalVer2.clear();
        strLocalVer3.clear();
        return;
    }
    std::vector<std::string> pieces;
    skipOnFailure([&] { m_installedText = m_context.files().GetFileVersion(path); });
    skipOnFailure([&] { pieces = text::splitText(m_installedText, '.'); });
    // A field whose piece is missing keeps what it held.
    skipOnFailure([&] { strLocalVer1 = pieces.at(0); });
    skipOnFailure([&] { strLocalVer2 = pieces.at(1); });
    skipOnFailure([&] { strLocalVer3 = pieces.at(3); });
}

std::string VersionCheck::updateStatus() {
    m_refusal.clear();
    m_notice.clear();
    m_release.reset();
    m_verdict.reset();
    m_keysVerdict.reset();
    m_keysRefusal.reset();
    m_clockNotice.clear();
    m_releaseKeys.clear();
    m_network.reset();
    strServerVer1.clear();
    strServerVer2.clear();
    strServerVer3.clear();

    const std::string answer = askForAnswer();
    if (!trusted(answer)) {
        return "NA";
    }
    const text::VersionPieces offered = readOfferedVersion(answer);
    strServerVer1 = offered[0];
    strServerVer2 = offered[1];
    strServerVer3 = offered[2];
    const std::string status = updateStatusFor(installedVersion(), offered);
    // Signed, the offer is a promise of what the package will be; an older
    // one would only be refused after its download.
    if (m_release && status == "UPDATE_AVAILABLE" &&
        !movesForward(installedVersion(), text::versionPieces(m_release->version))) {
        m_notice = "the version answer offers version " + m_release->version +
                   ", which is not newer than the installed version " + m_installedText +
                   " (an older answer served again?); nothing was offered";
        return "NO_UPDATE";
    }
    return status;
}

std::string VersionCheck::askForAnswer() {
    std::string answer;
    std::unique_ptr<platform::HttpRequest> request;
    skipOnFailure([&] { request = m_services.newHttpRequest(); });
    if (request) {
        skipOnFailure([&] { request->Open("GET", m_versionAddress, false); });
    }
    skipOnFailure([&] { m_context.pause(5); });
    if (request) {
        skipOnFailure([&] { request->setRequestHeader("User-Agent", userAgent); });
        skipOnFailure([&] {
            try {
                request->send("");
            } catch (const platform::Error& failure) {
                // A request that cannot reach the server is no answer, and
                // the log says what stood in its way.
                const bool givenUp = failure.number() == platform::HttpRequest::givenUp;
                m_refusal = (givenUp ? "the version request was given up: "
                                     : "the version request failed: ") +
                            failure.description();
                m_network = platform::networkFailureKind(failure.number());
                throw;
            }
        });
    }
    skipOnFailure([&] { m_context.pause(5); });
    std::string redirectedTo;
    if (request) {
        skipOnFailure([&] { answer = request->responseText(); });
        skipOnFailure([&] { redirectedTo = request->redirectedTo(); });
    }
    if (answer.empty() && m_refusal.empty()) {
        m_refusal = "the version address " + m_versionAddress + " answered with nothing";
    }
    if (isWebPage(answer)) {
        const std::string from =
            redirectedTo.empty() ? std::string() : " (redirected to " + redirectedTo + ")";
        m_refusal = "the version address " + m_versionAddress + from +
                    " answered with a web page instead of a version: most often a network "
                    "that asks to sign in first (open any web page in a browser to sign in, "
                    "then check again), otherwise a proxy's or the server's own page";
        m_network = platform::NetworkFailureKind::signInPage;
        return {};
    }
    return answer;
}

InstalledVersion VersionCheck::installedVersion() const {
    return {strLocalVer1, strLocalVer2, strLocalVer3};
}

const std::string& VersionCheck::installedVersionText() const {
    return m_installedText;
}

bool VersionCheck::trusted(const std::string& answer) {
    // No answer is an unreachable server, with a key or without.
    if (!m_keys.keyed() || answer.empty()) {
        return true;
    }
    const Outcome<BuiltKeys> built = builtKeys(m_keys);
    if (!built) {
        m_refusal = built.failure().error.description();
        return false;
    }
    // One reading of the clock for the keys line and the release line alike.
    const std::int64_t now = m_clock();
    ReleaseKeys releaseKeys(built.value(), m_trustRecord);
    const auto keys = releaseKeys.forAnswer(answer, now, [this](std::uint64_t number) {
        return fetchText(PublisherAddresses::rootRotation(m_versionAddress, number));
    });
    m_keysVerdict = releaseKeys.keysVerdict();
    m_clockNotice = releaseKeys.clockNote();
    if (!keys) {
        m_refusal = keys.failure().error.description();
        m_keysRefusal = keysRefusalOf(keys.failure());
        return false;
    }
    signature::AnswerCheck check = signature::checkVersionAnswer(answer, keys.value(), now);
    m_verdict = check.verdict;
    if (!check.verified()) {
        m_refusal = std::move(check.description);
        return false;
    }
    m_release = std::move(check.release);
    m_releaseKeys = keys.value();
    return true;
}

std::optional<std::string> VersionCheck::fetchText(const std::string& url) {
    std::string text;
    try {
        const std::unique_ptr<platform::HttpRequest> request = m_services.newHttpRequest();
        request->Open("GET", url, false);
        request->setRequestHeader("User-Agent", userAgent);
        request->send("");
        text = request->responseText();
    } catch (const std::exception&) {
        // A line of the chain that cannot be fetched is named as such.
        return std::nullopt;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text.empty() ? std::nullopt : std::optional<std::string>(std::move(text));
}

std::string VersionCheck::offeredVersion() const {
    // The signed version, when the answer carried one, is the offer itself.
    if (m_release) {
        return m_release->version;
    }
    return strServerVer1 + "." + strServerVer2 + "." + strServerVer3;
}

} // namespace updater
