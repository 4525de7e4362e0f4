// The release keys a keyed check trusts for an answer: named by a keys line
// enough roots signed, through the publisher's chain of root rotations when
// the line is signed under a later set, and kept beside the installation so
// that neither an older line nor a root set left behind is taken again.
#include "run/ReleaseKeys.h"
#include "run/VersionCheck.h"

#include "fixtures/WindowlessContext.h"

#include "signature/Base64.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"

#include "testsupport/CaseName.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/ScriptedWeb.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using signature::KeysLine;
using signature::SigningKey;
using updater::KeysRefusal;

// 2026-12-08T12:00:00Z; lines valid a year on.
constexpr std::int64_t now = 1'796'731'200;
constexpr std::int64_t aYear = 365 * 24 * 60 * 60;

struct Keys {
    testsupport::TempDir folder;
    std::map<std::string, SigningKey> made;

    Keys() {
        for (const char* name : {"r1", "r2", "r3", "n1", "n2", "a", "b"}) {
            made.emplace(name, SigningKey::fromFile(testsupport::makePublisherKey(
                                                        folder / (std::string(name) + ".pem"))
                                                        .privateKeyFile));
        }
    }
};

const SigningKey& key(const std::string& name) {
    static const Keys keys;
    return keys.made.at(name);
}

signature::PublicKey pub(const std::string& name) {
    return key(name).publicKey();
}

// The build's roots: three, two needed.
updater::BuiltKeys rootBuild() {
    return {{1, {pub("r1"), pub("r2"), pub("r3")}, 2}, std::nullopt};
}

// The one-key build of key a.
updater::BuiltKeys oneKeyBuild() {
    return {{1, {pub("a")}, 1}, pub("a")};
}

std::string keysLine(std::uint64_t serial, std::uint64_t rootSet,
                     const std::vector<std::string>& signers,
                     std::optional<signature::RootSet> newRoots = std::nullopt) {
    KeysLine line{serial, rootSet, now + aYear, {pub("a"), pub("b")}, std::move(newRoots), {}, {}};
    std::vector<const SigningKey*> by;
    for (const std::string& name : signers) {
        by.push_back(&key(name));
    }
    signature::signKeysLine(line, by);
    return signature::formatKeysLine(line);
}

std::string answer(const std::optional<std::string>& keys, const std::string& signer = "b") {
    std::vector<std::pair<std::string, std::string>> fields;
    if (keys) {
        fields.emplace_back(
            "keys", signature::encodeBase64(reinterpret_cast<const std::uint8_t*>(keys->data()),
                                            keys->size()));
    }
    return "1.3.0\r\n" + signature::formatReleaseLine(signature::signRelease(
                             "1.3.0", 4096, signature::PackageDigest{}, now + 86400, key(signer),
                             std::nullopt, std::nullopt, std::move(fields)));
}

struct Trust {
    testsupport::TempDir folder;
    std::string record = folder / "updater.trust";
    // The chain's lines the publisher serves, by the set each brings.
    std::map<std::uint64_t, std::string> chain;
    std::vector<std::uint64_t> fetched;

    auto judge(const updater::BuiltKeys& built, const std::string& text) {
        updater::ReleaseKeys keys(built, record);
        auto judged = keys.forAnswer(text, now, [this](std::uint64_t number) {
            fetched.push_back(number);
            const auto line = chain.find(number);
            return line == chain.end() ? std::nullopt : std::optional<std::string>(line->second);
        });
        verdict = keys.keysVerdict();
        return judged;
    }
    std::optional<signature::KeysVerdict> verdict;

    std::optional<updater::TrustRecord> kept() const {
        return updater::parseTrustRecord(testsupport::readFile(record));
    }
};

std::optional<KeysRefusal> refusalOf(const updater::Outcome<std::vector<signature::PublicKey>>& o) {
    if (o) {
        return std::nullopt;
    }
    return updater::keysRefusalOf(o.failure());
}

// Each set of the chain: 2 is n1, n2 (both needed), 3 is r1 alone.
signature::RootSet set2() {
    return {2, {pub("n1"), pub("n2")}, 2};
}
signature::RootSet set3() {
    return {3, {pub("r1")}, 1};
}

struct AnswerCase {
    const char* name;
    updater::BuiltKeys (*built)();
    std::function<void(Trust&)> before;
    std::function<std::string()> text;
    std::optional<KeysRefusal> refusal;
    std::uint64_t keptSet; // the root set kept after, 0: no record
};

const std::vector<AnswerCase> answerCases = {
    {"RootBuildTrustsTheListedKeys", rootBuild, [](Trust&) {},
     [] {
         return answer(keysLine(7, 1, {"r1", "r3"}));
     },
     std::nullopt, 1},
    {"RootBuildNeedsAKeysLine", rootBuild, [](Trust&) {}, [] { return answer(std::nullopt); },
     KeysRefusal::noKeysLine, 0},
    {"OneRootIsNotEnough", rootBuild, [](Trust&) {}, [] { return answer(keysLine(7, 1, {"r2"})); },
     KeysRefusal::lineRefused, 0},
    {"OneKeyBuildWithoutKeysLine", oneKeyBuild, [](Trust&) {},
     [] { return answer(std::nullopt, "a"); }, std::nullopt, 0},
    {"OneKeyBuildOnceAKeysLineWasTaken", oneKeyBuild,
     [](Trust& t) {
         testsupport::writeFile(t.record, updater::formatTrustRecord({{1, {pub("a")}, 1}, 3}));
     },
     [] { return answer(std::nullopt, "a"); }, KeysRefusal::noKeysLine, 1},
    {"OneKeyBuildMovesToAKeysLine", oneKeyBuild, [](Trust&) {},
     [] { return answer(keysLine(2, 1, {"a"})); }, std::nullopt, 1},
    {"AnOlderSerialReplayed", rootBuild,
     [](Trust& t) {
         testsupport::writeFile(t.record, updater::formatTrustRecord({rootBuild().roots, 8}));
     },
     [] {
         return answer(keysLine(7, 1, {"r1", "r2"}));
     },
     KeysRefusal::lineRefused, 1},
    {"ThroughTheChain", rootBuild,
     [](Trust& t) {
         t.chain[2] = keysLine(3, 1, {"r1", "r2", "n1", "n2"}, set2());
         t.chain[3] = keysLine(5, 2, {"n1", "n2", "r1"}, set3());
     },
     [] { return answer(keysLine(9, 3, {"r1"})); }, std::nullopt, 3},
    {"AChainLineMissing", rootBuild,
     [](Trust& t) {
         t.chain[2] = keysLine(3, 1, {"r1", "r2", "n1", "n2"}, set2());
     },
     [] { return answer(keysLine(9, 3, {"r1"})); }, KeysRefusal::chainBroken, 0},
    {"ARotationByTheNewSetAlone", rootBuild,
     [](Trust& t) {
         t.chain[2] = keysLine(3, 1, {"n1", "n2"}, set2());
     },
     [] {
         return answer(keysLine(9, 2, {"n1", "n2"}));
     },
     KeysRefusal::chainBroken, 0},
    {"ARotationByTheOldSetAlone", rootBuild,
     [](Trust& t) {
         t.chain[2] = keysLine(3, 1, {"r1", "r2", "n1"}, set2());
     },
     [] {
         return answer(keysLine(9, 2, {"n1", "n2"}));
     },
     KeysRefusal::chainBroken, 0},
    {"ARootSetLeftBehind", rootBuild,
     [](Trust& t) {
         testsupport::writeFile(t.record, updater::formatTrustRecord({set2(), 3}));
     },
     [] {
         return answer(keysLine(9, 1, {"r1", "r2"}));
     },
     KeysRefusal::lineRefused, 2},
    {"ARecordThatIsNotOne", rootBuild,
     [](Trust& t) { testsupport::writeFile(t.record, "morvane-trust v1 rootset=1\n"); },
     [] {
         return answer(keysLine(7, 1, {"r1", "r2"}));
     },
     KeysRefusal::trustUnreadable, 0},
};

class ReleaseKeysFor : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(ReleaseKeysFor, AnAnswer) {
    const AnswerCase& c = GetParam();
    Trust trust;
    c.before(trust);
    const auto judged = trust.judge(c.built(), c.text());
    EXPECT_EQ(refusalOf(judged), c.refusal) << (judged ? "" : judged.failure().error.description());
    if (judged) {
        EXPECT_FALSE(judged.value().empty());
    }
    const auto kept = trust.kept();
    EXPECT_EQ(kept ? kept->roots.number : 0U, c.keptSet);
}

INSTANTIATE_TEST_SUITE_P(Answers, ReleaseKeysFor, ::testing::ValuesIn(answerCases),
                         testsupport::CaseName());

// A replayed older line loses to the serial kept; the record holds the
// newest serial and the chain's last set, so that nothing is fetched twice.
TEST(ReleaseKeys, KeepsTheSerialAndTheSetAfterTheChain) {
    Trust trust;
    trust.chain[2] = keysLine(3, 1, {"r1", "r2", "n1", "n2"}, set2());
    ASSERT_TRUE(trust.judge(rootBuild(), answer(keysLine(9, 2, {"n1", "n2"}))));
    ASSERT_TRUE(trust.kept());
    EXPECT_EQ(trust.kept()->serial, 9U);
    EXPECT_EQ(trust.kept()->roots.keys, set2().keys);
    trust.fetched.clear();
    EXPECT_TRUE(trust.judge(rootBuild(), answer(keysLine(10, 2, {"n1", "n2"}))));
    EXPECT_TRUE(trust.fetched.empty());
    EXPECT_EQ(refusalOf(trust.judge(rootBuild(), answer(keysLine(10, 2, {"n1", "n2"})))),
              std::nullopt);
    EXPECT_EQ(refusalOf(trust.judge(rootBuild(), answer(keysLine(9, 2, {"n1", "n2"})))),
              KeysRefusal::lineRefused);
    EXPECT_EQ(trust.verdict, signature::KeysVerdict::replayed);
}

// An updater far behind walks every rotation; a chain longer than the limit
// is refused before a line of it is fetched.
TEST(ReleaseKeys, WalksALongChainAndRefusesOnePastTheLimit) {
    Trust trust;
    // Set n is r1 alone when n is odd, r2 alone when even; each rotation
    // signed by both.
    const auto setOf = [](std::uint64_t n) {
        return signature::RootSet{n, {pub(n % 2 == 1 ? "r1" : "r2")}, 1};
    };
    constexpr std::uint64_t last = 301;
    for (std::uint64_t n = 2; n <= last; ++n) {
        trust.chain[n] = keysLine(n, n - 1, {"r1", "r2"}, setOf(n));
    }
    const updater::BuiltKeys built{setOf(1), std::nullopt};
    const auto judged = trust.judge(built, answer(keysLine(400, last, {"r1", "r2"})));
    ASSERT_TRUE(judged) << judged.failure().error.description();
    EXPECT_EQ(trust.fetched.size(), last - 1);
    EXPECT_EQ(trust.kept()->roots.number, last);

    Trust far;
    const auto refused =
        far.judge(built, answer(keysLine(400, 2 + signature::longestRootChain, {"r1", "r2"})));
    EXPECT_EQ(refusalOf(refused), KeysRefusal::chainBroken);
    EXPECT_TRUE(far.fetched.empty());
}

// A record that cannot be written leaves the one before it, and nothing is
// trusted on a serial that was not kept.
TEST(ReleaseKeys, ARecordNotWrittenTrustsNothing) {
    Trust trust;
    testsupport::writeFile(trust.record, updater::formatTrustRecord({rootBuild().roots, 3}));
    const std::string before = testsupport::readFile(trust.record);
    {
        testsupport::FailingWrites full(trust.record + ".new", ENOSPC);
        EXPECT_EQ(refusalOf(trust.judge(rootBuild(), answer(keysLine(7, 1, {"r1", "r2"})))),
                  KeysRefusal::trustNotKept);
    }
    EXPECT_EQ(testsupport::readFile(trust.record), before);
    EXPECT_FALSE(testsupport::exists(trust.record + ".new"));
}

// The check as the window makes it, in a root build: the keys line read
// from the answer, the chain fetched beside it, the release line then
// checked against the keys the line names, all at one reading of the clock.
struct RootBuildCheck {
    testsupport::TempDir install;
    testsupport::ScriptedWeb web;
    testsupport::ScriptedServices services{web};
    WindowlessContext context;
    const std::string folder = "http://publisher.test/clientfiles/morvane/";
    std::int64_t clock = now;

    std::string check(const std::string& served) {
        testsupport::writeVersionedExecutable(install / "morvane.exe", "1.2.0.5");
        web.serve(folder + "version.php", served);
        const updater::KeySetting setting{
            "", signature::formatKeyList({pub("r1"), pub("r2"), pub("r3")}), 2};
        updater::VersionCheck versions(services, context, install / "morvane.exe",
                                       folder + "version.php", setting, install / "updater.trust",
                                       [this] { return clock; });
        versions.readInstalledVersion();
        const std::string status = versions.updateStatus();
        refusal = versions.refusal();
        releaseKeys = versions.releaseKeys();
        keysVerdict = versions.keysVerdict();
        answerVerdict = versions.answerVerdict();
        clockNotice = versions.clockNotice();
        return status;
    }
    std::string refusal;
    std::vector<signature::PublicKey> releaseKeys;
    std::optional<signature::KeysVerdict> keysVerdict;
    std::optional<signature::AnswerVerdict> answerVerdict;
    std::string clockNotice;
};

TEST(RootBuildCheck, TrustsAReleaseKeyTheRootsCertifyThroughTheChain) {
    RootBuildCheck build;
    build.web.serve(build.folder + "rootset-2.txt",
                    keysLine(3, 1, {"r1", "r2", "n1", "n2"}, set2()) + "\r\n");
    EXPECT_EQ(build.check(answer(keysLine(9, 2, {"n1", "n2"}))), "UPDATE_AVAILABLE")
        << build.refusal;
    EXPECT_EQ(build.releaseKeys, (std::vector{pub("a"), pub("b")}));
    EXPECT_EQ(build.keysVerdict, signature::KeysVerdict::trusted);
    const auto& requests = build.web.requests();
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [&](const auto& request) {
        return request.url == build.folder + "rootset-2.txt";
    }));
}

TEST(RootBuildCheck, RefusesAReleaseKeyTheLineDoesNotList) {
    RootBuildCheck build;
    EXPECT_EQ(build.check(answer(keysLine(9, 1, {"r1", "r2"}), "n1")), "NA");
    EXPECT_EQ(build.keysVerdict, signature::KeysVerdict::trusted);
    EXPECT_EQ(build.answerVerdict, signature::AnswerVerdict::otherKey);
    EXPECT_FALSE(build.refusal.empty());
    EXPECT_TRUE(build.releaseKeys.empty());
}

// The keys line ran out: refused by the clock read once, and the log is
// told both dates.
TEST(RootBuildCheck, AnExpiredKeysLineIsNoAnswer) {
    RootBuildCheck build;
    build.clock = now + 2 * aYear;
    EXPECT_EQ(build.check(answer(keysLine(9, 1, {"r1", "r2"}))), "NA");
    EXPECT_EQ(build.keysVerdict, signature::KeysVerdict::expired);
    EXPECT_EQ(build.answerVerdict, std::nullopt);
    EXPECT_NE(build.refusal.find(signature::formatUtcTime(build.clock)), std::string::npos)
        << build.refusal;
}

// A clock a day behind the keys line's making: the answer is taken, and
// the check has the clock named for the log.
TEST(RootBuildCheck, AClockBehindTheKeysLineIsNamed) {
    RootBuildCheck build;
    KeysLine line{9, 1, now + aYear, {pub("a"), pub("b")}, std::nullopt, {}, {}, now + 86400};
    signature::signKeysLine(line, {&key("r1"), &key("r2")});
    EXPECT_EQ(build.check(answer(signature::formatKeysLine(line))), "UPDATE_AVAILABLE")
        << build.refusal;
    EXPECT_NE(build.clockNotice.find(signature::formatUtcTime(now + 86400)), std::string::npos)
        << build.clockNotice;
}

// The record's reader: what it writes back, later fields read past, and
// nothing taken that is not a whole record.
TEST(TrustRecord, ReadsItsOwnAndSkipsWhatItDoesNotKnow) {
    const updater::TrustRecord record{{4, {pub("r1"), pub("n2")}, 2}, 12};
    const std::string text = updater::formatTrustRecord(record);
    const auto read = updater::parseTrustRecord(text + " mirror=x\n");
    ASSERT_TRUE(read);
    EXPECT_EQ(updater::formatTrustRecord(*read), text);
    const std::string roots = "roots=" + signature::base64Of(pub("r1"));
    for (const std::string& bad : std::vector<std::string>{
             "", "morvane-trust v1",
             "morvane-trust v2 rootset=1 threshold=1 " + roots + " serial=1",
             "morvane-trust v1 rootset=0 threshold=1 " + roots + " serial=1",
             "morvane-trust v1 rootset=1 threshold=2 " + roots + " serial=1",
             "morvane-trust v1 rootset=1 threshold=1 " + roots,
             "morvane-trust v1 rootset=1 rootset=1 threshold=1 " + roots + " serial=1",
             "morvane-trust v1 rootset=1 threshold=1 roots=x serial=1",
             "morvane-trust v1 rootset=1 threshold=1 " + roots + " serial=-1"}) {
        EXPECT_FALSE(updater::parseTrustRecord(bad)) << bad;
    }
}

} // namespace
