// The keys line root keys sign: read back as written, refused when it is not
// one, and trusted only when enough distinct roots of the set trusted now
// signed it, it is not older than a line taken before and not expired; a
// rotation to new roots only when both sets signed it.
#include "signature/KeysLine.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"

#include "testsupport/CaseName.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using signature::KeysLine;
using signature::KeysVerdict;
using signature::SigningKey;

// 2026-12-08T12:00:00Z, and the lines' expiry a year on.
constexpr std::int64_t now = 1'796'731'200;
constexpr std::int64_t aYear = 365 * 24 * 60 * 60;

struct Keys {
    testsupport::TempDir folder;
    std::vector<SigningKey> made;

    Keys() {
        for (const char* name : {"r1", "r2", "r3", "n1", "n2", "a", "b"}) {
            made.push_back(SigningKey::fromFile(
                testsupport::makePublisherKey(folder / (std::string(name) + ".pem"))
                    .privateKeyFile));
        }
    }
};

const Keys& keys() {
    static const Keys made;
    return made;
}
const SigningKey& r1() {
    return keys().made[0];
}
const SigningKey& r2() {
    return keys().made[1];
}
const SigningKey& r3() {
    return keys().made[2];
}
const SigningKey& n1() {
    return keys().made[3];
}
const SigningKey& n2() {
    return keys().made[4];
}
const SigningKey& a() {
    return keys().made[5];
}
const SigningKey& b() {
    return keys().made[6];
}

// The build's roots: three, two needed.
signature::RootSet rootSet() {
    return {1, {r1().publicKey(), r2().publicKey(), r3().publicKey()}, 2};
}

KeysLine unsignedLine() {
    KeysLine line;
    line.serial = 7;
    line.rootSet = 1;
    line.expires = now + aYear;
    line.releaseKeys = {a().publicKey(), b().publicKey()};
    return line;
}

KeysLine rotation() {
    KeysLine line = unsignedLine();
    line.newRoots = signature::RootSet{2, {n1().publicKey(), n2().publicKey()}, 2};
    return line;
}

std::string signedBy(KeysLine line, const std::vector<const SigningKey*>& signers) {
    signature::signKeysLine(line, signers);
    return signature::formatKeysLine(line);
}

struct CheckCase {
    const char* name;
    std::function<std::string()> text;
    std::uint64_t highestSerial;
    KeysVerdict verdict;
};

const std::vector<CheckCase> checkCases = {
    {"TwoOfThree",
     [] {
         return signedBy(unsignedLine(), {&r1(), &r3()});
     },
     0, KeysVerdict::trusted},
    {"ThreeOfThree",
     [] {
         return signedBy(unsignedLine(), {&r1(), &r2(), &r3()});
     },
     0, KeysVerdict::trusted},
    {"OneOfThree", [] { return signedBy(unsignedLine(), {&r2()}); }, 0,
     KeysVerdict::belowThreshold},
    {"OneRootTwice",
     [] {
         return signedBy(unsignedLine(), {&r2(), &r2()});
     },
     0, KeysVerdict::belowThreshold},
    {"ARootAndAReleaseKey",
     [] {
         return signedBy(unsignedLine(), {&r1(), &a()});
     },
     0, KeysVerdict::belowThreshold},
    {"ASignatureOfAnotherLine",
     [] {
         KeysLine other = unsignedLine();
         other.serial = 8;
         signature::signKeysLine(other, {&r2()});
         KeysLine line = unsignedLine();
         signature::signKeysLine(line, {&r1()});
         line.signatures.push_back(other.signatures[0]);
         return signature::formatKeysLine(line);
     },
     0, KeysVerdict::belowThreshold},
    {"ChangedAfterSigning",
     [] {
         std::string text = signedBy(unsignedLine(), {&r1(), &r2()});
         text.replace(text.find("serial=7"), 8, "serial=9");
         return text;
     },
     0, KeysVerdict::belowThreshold},
    {"ALaterFieldSigned",
     [] {
         KeysLine line = unsignedLine();
         line.laterFields = {{"mirror", "https://example.invalid/keys"}};
         return signedBy(line, {&r1(), &r2()});
     },
     0, KeysVerdict::trusted},
    {"AnotherRootSet",
     [] {
         KeysLine line = unsignedLine();
         line.rootSet = 2;
         return signedBy(line, {&r1(), &r2()});
     },
     0, KeysVerdict::otherRootSet},
    {"TheSerialTakenBefore",
     [] {
         return signedBy(unsignedLine(), {&r1(), &r2()});
     },
     7, KeysVerdict::trusted},
    {"AnOlderSerial",
     [] {
         return signedBy(unsignedLine(), {&r1(), &r2()});
     },
     8, KeysVerdict::replayed},
    {"ExpiredWithinTheSlack",
     [] {
         KeysLine line = unsignedLine();
         line.expires = now - signature::expirySlackSeconds + 1;
         return signedBy(line, {&r1(), &r2()});
     },
     0, KeysVerdict::trusted},
    {"ExpiredBeyondTheSlack",
     [] {
         KeysLine line = unsignedLine();
         line.expires = now - signature::expirySlackSeconds - 1;
         return signedBy(line, {&r1(), &r2()});
     },
     0, KeysVerdict::expired},
    {"RotationByBothSets",
     [] {
         return signedBy(rotation(), {&r1(), &r2(), &n1(), &n2()});
     },
     0, KeysVerdict::trusted},
    {"RotationByTheOldSetAlone",
     [] {
         return signedBy(rotation(), {&r1(), &r2(), &r3(), &n1()});
     },
     0, KeysVerdict::newRootsShort},
    {"RotationByTheNewSetAlone",
     [] {
         return signedBy(rotation(), {&r1(), &n1(), &n2()});
     },
     0, KeysVerdict::belowThreshold},
    {"NotAKeysLine", [] { return std::string("morvane-release v1 version=1.3.0"); }, 0,
     KeysVerdict::malformed},
};

class KeysLineCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(KeysLineCheck, TrustsOnlyWhatRootsVouchFor) {
    const CheckCase& c = GetParam();
    const auto check = signature::checkKeysLine(c.text(), rootSet(), c.highestSerial, now);
    EXPECT_EQ(check.verdict, c.verdict) << check.description;
    EXPECT_EQ(check.line.has_value(), c.verdict == KeysVerdict::trusted);
    EXPECT_EQ(check.description.empty(), c.verdict == KeysVerdict::trusted);
}

INSTANTIATE_TEST_SUITE_P(Lines, KeysLineCheck, ::testing::ValuesIn(checkCases),
                         testsupport::CaseName());

// What a user reads when the keys ran out: both dates, and what to do.
TEST(KeysLine, AnExpiredLineNamesBothClocks) {
    KeysLine line = unsignedLine();
    line.expires = now - aYear;
    const auto check = signature::checkKeysLine(signedBy(line, {&r1(), &r2()}), rootSet(), 0, now);
    EXPECT_EQ(check.description, "the keys line expired at 2025-12-08T12:00:00Z; this computer's "
                                 "clock says 2026-12-08T12:00:00Z (if the clock is wrong, set it "
                                 "right; otherwise the publisher has not renewed the keys line)");
}

// A clock behind the line's making, past the slack, is named with both
// dates; the line itself is still taken (nothing about it is wrong).
TEST(KeysLine, AClockBeforeTheLineWasMadeIsNamed) {
    for (const std::int64_t behind : {std::int64_t{0}, signature::expirySlackSeconds - 1,
                                      signature::expirySlackSeconds + 1, aYear}) {
        KeysLine line = unsignedLine();
        line.issued = now + behind;
        const auto check =
            signature::checkKeysLine(signedBy(line, {&r1(), &r2()}), rootSet(), 0, now);
        ASSERT_TRUE(check.trusted()) << check.description;
        EXPECT_EQ(check.clockNote.empty(), behind <= signature::expirySlackSeconds) << behind;
        if (!check.clockNote.empty()) {
            EXPECT_NE(check.clockNote.find(signature::formatUtcTime(now + behind)),
                      std::string::npos);
            EXPECT_NE(check.clockNote.find(signature::formatUtcTime(now)), std::string::npos);
        }
    }
}

TEST(KeysLine, ReadsBackWhatItWrites) {
    KeysLine line = rotation();
    line.laterFields = {{"zeta", "1"}, {"alpha", "x,y"}};
    line.issued = now;
    const std::string text = signedBy(line, {&r1(), &r2(), &n1(), &n2()});
    std::string why;
    const auto read = signature::parseKeysLine(text, why);
    ASSERT_TRUE(read) << why;
    EXPECT_EQ(signature::formatKeysLine(*read), text);
    EXPECT_EQ(read->releaseKeys, line.releaseKeys);
    ASSERT_TRUE(read->newRoots);
    EXPECT_EQ(read->newRoots->number, 2U);
    EXPECT_EQ(read->newRoots->threshold, 2U);
    EXPECT_EQ(read->laterFields, line.laterFields);
    EXPECT_EQ(read->signatures.size(), 4U);
    EXPECT_EQ(read->issued, now);
}

// Each line that is not a keys line, and only those, refused as such.
struct ParseCase {
    const char* name;
    std::function<std::string(std::string)> change;
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

const std::vector<ParseCase> parseCases = {
    {"NoSerial", [](std::string t) { return replaced(t, "serial=7 ", ""); }},
    {"NoRootSet", [](std::string t) { return replaced(t, "rootset=1 ", ""); }},
    {"NoExpiry", [](std::string t) { return replaced(t, "expires=", "until="); }},
    {"NoReleaseKeys", [](std::string t) { return replaced(t, "release=", "keys="); }},
    {"RootSetZero", [](std::string t) { return replaced(t, "rootset=1", "rootset=0"); }},
    {"SerialNotANumber", [](std::string t) { return replaced(t, "serial=7", "serial=+7"); }},
    {"AFieldTwice", [](std::string t) { return replaced(t, "serial=7", "serial=7 serial=8"); }},
    {"AReleaseKeyTwice",
     [](std::string t) {
         const std::size_t at = t.find("release=") + 8;
         const std::string first = t.substr(at, t.find(',', at) - at);
         return replaced(t, "release=" + first + ",", "release=" + first + "," + first + ",");
     }},
    {"AnEmptyKeyInTheList", [](std::string t) { return replaced(t, "release=", "release=,"); }},
    {"ThresholdWithoutRoots",
     [](std::string t) { return replaced(t, " root=", " threshold=1 root="); }},
    {"NoSignature", [](std::string t) { return t.substr(0, t.find(" root=")); }},
    {"ASignatureCut", [](std::string t) { return t.substr(0, t.size() - 4); }},
    {"ARootWithoutSignature", [](std::string t) { return t.substr(0, t.rfind(" ed25519=")); }},
    {"TrailingBlank", [](std::string t) { return t + " "; }},
    {"AControlByte", [](std::string t) { return replaced(t, "serial=7", "serial=7\t"); }},
};

class KeysLineParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(KeysLineParse, RefusesWhatIsNotAKeysLine) {
    const std::string good = signedBy(unsignedLine(), {&r1(), &r2()});
    std::string why;
    ASSERT_TRUE(signature::parseKeysLine(good, why)) << why;
    EXPECT_FALSE(signature::parseKeysLine(GetParam().change(good), why));
    EXPECT_FALSE(why.empty());
}

INSTANTIATE_TEST_SUITE_P(Lines, KeysLineParse, ::testing::ValuesIn(parseCases),
                         testsupport::CaseName());

TEST(KeysLine, RefusesMoreKeysOrSignaturesThanItReads) {
    KeysLine line = unsignedLine();
    line.releaseKeys.clear();
    std::string why;
    // As many distinct keys as allowed, then one more.
    for (std::size_t i = 0; i <= signature::mostKeysInALine; ++i) {
        signature::PublicKey key{};
        key[0] = static_cast<std::uint8_t>(i);
        line.releaseKeys.push_back(key);
        const bool fits = line.releaseKeys.size() <= signature::mostKeysInALine;
        EXPECT_EQ(signature::parseKeysLine(signedBy(line, {&r1()}), why).has_value(), fits) << i;
    }
    line = unsignedLine();
    std::vector<const SigningKey*> signers(signature::mostKeysInALine + 1, &r1());
    EXPECT_FALSE(signature::parseKeysLine(signedBy(line, signers), why));
    signers.pop_back();
    EXPECT_TRUE(signature::parseKeysLine(signedBy(line, signers), why)) << why;
}

// The chain's lines: a rotation, signed by both sets, whatever its age.
TEST(KeysLine, ARotationInTheChainCountsWhateverItsAgeAndSerial) {
    KeysLine old = rotation();
    old.expires = now - 5 * aYear;
    old.serial = 1;
    const std::string text = signedBy(old, {&r1(), &r2(), &n1(), &n2()});
    const auto check = signature::checkRotation(text, rootSet());
    ASSERT_TRUE(check.trusted()) << check.description;
    const signature::RootSet next = signature::rootsAfter(*check.line);
    EXPECT_EQ(next.number, 2U);
    EXPECT_EQ(next.keys, (std::vector{n1().publicKey(), n2().publicKey()}));
    EXPECT_EQ(next.threshold, 2U);
    // From the new set on, the old roots are nothing.
    EXPECT_EQ(signature::checkRotation(text, next).verdict, KeysVerdict::otherRootSet);
    // A keys line without new roots is no step of the chain.
    EXPECT_EQ(signature::checkRotation(signedBy(unsignedLine(), {&r1(), &r2()}), rootSet()).verdict,
              KeysVerdict::malformed);
}

} // namespace
