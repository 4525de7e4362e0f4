#pragma once

#include "app/StageContext.h"
#include "platform/Services.h"
#include "platform/http/NetworkFailure.h"
#include "run/ReleaseKeys.h"
#include "run/UpdateDecision.h"
#include "run/UpdaterSettings.h"

#include "signature/KeysLine.h"
#include "signature/ReleaseLine.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace updater {

// Whether the publisher offers a newer version than the one installed: the
// installed application's file version against the version endpoint's
// answer. Never fails: a step that fails is skipped and the next one runs.
//
// Built with the publisher's key, the check trusts only an answer that
// carries the publisher's signed release line for the version it offers,
// not yet expired; any other answer counts as no usable answer ("NA"), and
// refusal() says why. That holds for an answer of no update too, so a
// network that keeps answering the installed version cannot hold updates
// back unnoticed. A trusted answer whose signed version is not plainly
// newer than the installed one (an older answer served again) offers
// nothing, however the plain comparison reads it, and notice() names it:
// the user is never asked for what would be refused.
class VersionCheck {
public:
    // keys: how the build was keyed; trustRecord: where what a keyed check
    // took is kept; clock: the seconds since 1970-01-01 UTC, for the
    // answer's and the keys line's expiry, read once per check.
    VersionCheck(platform::Services& services, StageContext& context, std::string applicationPath,
                 std::string versionAddress, KeySetting keys, std::string trustRecord,
                 std::function<std::int64_t()> clock);

    // Fills the installed-version fields.
    void readInstalledVersion();
    // Asks the endpoint: "UPDATE_AVAILABLE", "NO_UPDATE", or "NA" when it
    // gave no usable answer.
    std::string updateStatus();
    // The version the last answer offered, as its three pieces joined by
    // ".": what the package must be signed for.
    std::string offeredVersion() const;
    // The installed version as last read: the parts the check compares, and
    // the whole file version for messages (empty without an application).
    InstalledVersion installedVersion() const;
    const std::string& installedVersionText() const;
    // Why the last request gave no usable answer: it failed on its way (no
    // network, a proxy, a certificate, given up for silence or its
    // deadline), a web page answered instead of the publisher (a network's
    // sign-in page), or, with a key, its answer was not trusted. Empty when
    // it was answered.
    const std::string& refusal() const { return m_refusal; }
    // What stood in the last request's way, when the network did.
    const std::optional<platform::NetworkFailureKind>& networkFailure() const { return m_network; }
    // Why the last trusted answer offered nothing although it named
    // another version; empty otherwise.
    const std::string& notice() const { return m_notice; }
    // With a key, what the last answer's release line came to; nothing
    // without a key or without an answer.
    const std::optional<signature::AnswerVerdict>& answerVerdict() const { return m_verdict; }
    // With a key, what the last answer's keys line came to, when it carried
    // one that was judged.
    const std::optional<signature::KeysVerdict>& keysVerdict() const { return m_keysVerdict; }
    // With a root key's line, that this computer's clock is before the
    // line was made, for the log; empty otherwise.
    const std::string& clockNotice() const { return m_clockNotice; }
    // With a key, why no release key was trusted for the last answer.
    const std::optional<KeysRefusal>& keysRefusal() const { return m_keysRefusal; }
    // The release keys the last trusted answer was checked against: the
    // ones a package must be signed by.
    const std::vector<signature::PublicKey>& releaseKeys() const { return m_releaseKeys; }
    // The last answer's verified release line (with a key).
    const std::optional<signature::ReleaseLine>& release() const { return m_release; }

private:
    platform::Services& m_services;
    StageContext& m_context;
    std::string m_applicationPath;
    std::string m_versionAddress;
    std::string m_installedText;
    KeySetting m_keys;
    std::string m_trustRecord;
    std::function<std::int64_t()> m_clock;
    std::string m_refusal;
    std::string m_notice;
    std::optional<signature::ReleaseLine> m_release;
    std::optional<signature::AnswerVerdict> m_verdict;
    std::optional<signature::KeysVerdict> m_keysVerdict;
    std::optional<KeysRefusal> m_keysRefusal;
    std::string m_clockNotice;
    std::vector<signature::PublicKey> m_releaseKeys;
    std::optional<platform::NetworkFailureKind> m_network;

    // The answer's body, or empty with the reason kept when the request
    // failed or a web page answered.
    std::string askForAnswer();
    // With a key: whether the answer is trusted, keeping its release line or
    // the reason it is not.
    bool trusted(const std::string& answer);
    // The body at url, or nothing when the request failed or it is empty.
    std::optional<std::string> fetchText(const std::string& url);

    std::string strLocalVer1;
    std::string strLocalVer2;
    std::string strLocalVer3;
    std::string strServerVer1;
    std::string strServerVer2;
    std::string strServerVer3;
};

} // namespace updater
