// The version answer a keyed updater trusts: the version line and the
// publisher's signed release line for it, not yet expired. Each way a
// hostile network could write the answer instead is refused for its own
// reason.
#include "signature/Base64.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"

#include "testsupport/CaseName.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

namespace {

using signature::AnswerVerdict;

// 2026-12-08T12:00:00Z, and the answers' expiry a month on.
constexpr std::int64_t now = 1'796'731'200;
constexpr std::int64_t expires = now + 30 * 24 * 60 * 60;

struct Keys {
    testsupport::TempDir folder;
    testsupport::PublisherKey publisher = testsupport::makePublisherKey(folder / "publisher.pem");
    testsupport::PublisherKey other = testsupport::makePublisherKey(folder / "other.pem");
    signature::SigningKey publisherKey = signature::SigningKey::fromFile(publisher.privateKeyFile);
    signature::SigningKey otherKey = signature::SigningKey::fromFile(other.privateKeyFile);
};

const Keys& keys() {
    static const Keys made;
    return made;
}

signature::ManifestDigest manifestDigest() {
    signature::ManifestDigest digest{};
    digest.fill(0xcd);
    return digest;
}

std::string line(const std::string& version, std::int64_t until = expires,
                 const signature::SigningKey& key = keys().publisherKey,
                 const std::optional<signature::ManifestDigest>& manifest = std::nullopt) {
    signature::PackageDigest digest{};
    digest.fill(0xab);
    return signature::formatReleaseLine(
        signature::signRelease(version, 4096, digest, until, key, manifest));
}

// The field as manifestDigest() writes it.
std::string manifestField() {
    std::string field = " manifest=";
    for (int i = 0; i < 32; ++i) {
        field += "cd";
    }
    return field;
}

// A line for a package that carries a manifest.
std::string manifestLine(const std::string& version) {
    return line(version, expires, keys().publisherKey, manifestDigest());
}

// A release line of exactly these signed fields, signed by the publisher:
// what a later publisher's tool may write.
std::string signedFields(const std::string& fields) {
    const std::string text = "morvane-release v1 " + fields;
    const signature::SignatureBytes signed_ = keys().publisherKey.sign(text);
    return text + " key=" + signature::base64Of(keys().publisherKey.publicKey()) +
           " ed25519=" + signature::encodeBase64(signed_.data(), signed_.size());
}

const std::string knownFields =
    "version=1.3.0 size=4096 sha512=" + std::string(128, 'a') + " expires=2027-01-07T12:00:00Z";

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    const std::size_t at = text.find(what);
    return at == std::string::npos ? "(not found: " + what + ")"
                                   : text.replace(at, what.size(), with);
}

struct AnswerCase {
    const char* name;
    std::function<std::string()> answer;
    AnswerVerdict verdict;
    // A piece of the description the log shows.
    std::string says;
};

class VersionAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(VersionAnswer, IsTrustedOnlyWhenThePublisherSignedItForItsVersionLine) {
    const AnswerCase& c = GetParam();
    const auto key = signature::publicKeyFromBase64(keys().publisher.publicKeyBase64);
    ASSERT_TRUE(key.has_value());
    const std::string answer = c.answer();
    const signature::AnswerCheck check = signature::checkVersionAnswer(answer, *key, now);
    EXPECT_EQ(check.verdict, c.verdict) << answer << "\n" << check.description;
    EXPECT_NE(check.description.find(c.says), std::string::npos) << check.description;
    EXPECT_EQ(check.release.has_value(), c.verdict == AnswerVerdict::verified);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, VersionAnswer,
    ::testing::Values(
        AnswerCase{"AsPublished", [] { return "1.3.0\r\n" + line("1.3.0"); },
                   AnswerVerdict::verified, ""},
        AnswerCase{"LineEndAfterTheLine", [] { return "1.3.0\r\n" + line("1.3.0") + "\r\n"; },
                   AnswerVerdict::verified, ""},
        AnswerCase{"ByteOrderMarkBeforeTheVersion",
                   [] {
                       return "\xEF\xBB\xBF"
                              "1.3.0\r\n" +
                              line("1.3.0");
                   },
                   AnswerVerdict::verified, ""},
        // The withholding attack: the installed version, unsigned.
        AnswerCase{"VersionAlone", [] { return std::string("1.2.5"); },
                   AnswerVerdict::noReleaseLine, "carries no signed release line"},
        AnswerCase{"VersionAndEmptyLine", [] { return std::string("1.2.5\r\n\r\n"); },
                   AnswerVerdict::noReleaseLine, "carries no signed release line"},
        AnswerCase{"ErrorPage", [] { return std::string("<html>\r\nNot Found\r\n</html>"); },
                   AnswerVerdict::malformedLine, "does not begin with"},
        AnswerCase{"OtherKey", [] { return "1.3.0\r\n" + line("1.3.0", expires, keys().otherKey); },
                   AnswerVerdict::otherKey, keys().other.publicKeyBase64},
        AnswerCase{"SizeChanged",
                   [] { return replaced("1.3.0\r\n" + line("1.3.0"), "size=4096", "size=4097"); },
                   AnswerVerdict::badSignature, "does not match its signature"},
        AnswerCase{
            "ExpiryMovedOn",
            [] { return replaced("1.3.0\r\n" + line("1.3.0"), "expires=2027", "expires=2028"); },
            AnswerVerdict::badSignature, "does not match its signature"},
        // A signed answer of an old release, its version line changed.
        AnswerCase{"VersionLineDisagrees", [] { return "1.3.1\r\n" + line("1.3.0"); },
                   AnswerVerdict::otherVersion, "names version 1.3.0"},
        AnswerCase{"VersionLineWritten", [] { return "1.3.0.0\r\n" + line("1.3.0"); },
                   AnswerVerdict::otherVersion, "\"1.3.0.0\""},
        AnswerCase{"Expired", [] { return "1.3.0\r\n" + line("1.3.0", now - 1); },
                   AnswerVerdict::expired,
                   "expired at 2026-12-08T11:59:59Z; this computer's clock says "
                   "2026-12-08T12:00:00Z"},
        AnswerCase{"ExpiresThisSecond", [] { return "1.3.0\r\n" + line("1.3.0", now); },
                   AnswerVerdict::verified, ""},
        AnswerCase{"MoreAfterTheLine", [] { return "1.3.0\r\n" + line("1.3.0") + "\r\nmore"; },
                   AnswerVerdict::malformedLine, "more follows it"},
        AnswerCase{"FieldMissing",
                   [] { return replaced("1.3.0\r\n" + line("1.3.0"), "size=4096 ", ""); },
                   AnswerVerdict::malformedLine, "no package size"},
        AnswerCase{"SizeNotANumber",
                   [] { return replaced("1.3.0\r\n" + line("1.3.0"), "size=4096", "size=+4096"); },
                   AnswerVerdict::malformedLine, "no package size"},
        AnswerCase{
            "DigestInCapitals",
            [] { return replaced("1.3.0\r\n" + line("1.3.0"), "sha512=abab", "sha512=ABAB"); },
            AnswerVerdict::malformedLine, "128 lower-case hex digits"},
        AnswerCase{"NoSuchDay",
                   [] {
                       return replaced("1.3.0\r\n" + line("1.3.0"), "expires=2027-01-07",
                                       "expires=2027-02-30");
                   },
                   AnswerVerdict::malformedLine, "no expiry time"},
        AnswerCase{
            "VersionOfTwoNumbers",
            [] { return replaced("1.3\r\n" + line("1.3.0"), "version=1.3.0", "version=1.3"); },
            AnswerVerdict::malformedLine, "no version of three numbers"},
        AnswerCase{"SignatureCut",
                   [] {
                       const std::string answer = "1.3.0\r\n" + line("1.3.0");
                       return answer.substr(0, answer.size() - 8);
                   },
                   AnswerVerdict::malformedLine, "signature of 64 bytes"},
        // The manifest's digest is signed with the rest: it can be neither
        // changed nor dropped, and stands only between expires and key.
        AnswerCase{"WithManifest", [] { return "1.3.0\r\n" + manifestLine("1.3.0"); },
                   AnswerVerdict::verified, ""},
        AnswerCase{"ManifestChanged",
                   [] {
                       return replaced("1.3.0\r\n" + manifestLine("1.3.0"), "manifest=cdcd",
                                       "manifest=cdce");
                   },
                   AnswerVerdict::badSignature, "does not match its signature"},
        AnswerCase{
            "ManifestDropped",
            [] { return replaced("1.3.0\r\n" + manifestLine("1.3.0"), manifestField(), ""); },
            AnswerVerdict::badSignature, "does not match its signature"},
        AnswerCase{"ManifestAdded",
                   [] {
                       return replaced("1.3.0\r\n" + line("1.3.0"),
                                       " key=", manifestField() + " key=");
                   },
                   AnswerVerdict::badSignature, "does not match its signature"},
        AnswerCase{"ManifestInCapitals",
                   [] {
                       return replaced("1.3.0\r\n" + manifestLine("1.3.0"), "manifest=cdcd",
                                       "manifest=CDcd");
                   },
                   AnswerVerdict::malformedLine, "64 lower-case hex digits"},
        AnswerCase{"ManifestAfterTheKey",
                   [] {
                       const std::string answer = "1.3.0\r\n" + manifestLine("1.3.0");
                       return replaced(replaced(answer, manifestField(), ""),
                                       " ed25519=", manifestField() + " ed25519=");
                   },
                   AnswerVerdict::malformedLine, "signature of 64 bytes"},
        // The directory's digest, which earlier readers read past, is read
        // only as a SHA-256.
        AnswerCase{"WithDirectory",
                   [] {
                       return "1.3.0\r\n" +
                              signedFields(knownFields + " directory=" + std::string(64, 'e'));
                   },
                   AnswerVerdict::verified, ""},
        AnswerCase{"DirectoryShort",
                   [] {
                       return "1.3.0\r\n" +
                              signedFields(knownFields + " directory=" + std::string(63, 'e'));
                   },
                   AnswerVerdict::malformedLine, "64 lower-case hex digits"},
        // The line grows: a field a later tool adds is read past, signed
        // with the rest; the known ones may stand in any order.
        AnswerCase{"LaterField",
                   [] { return "1.3.0\r\n" + signedFields(knownFields + " channel=stable"); },
                   AnswerVerdict::verified, ""},
        AnswerCase{"LaterFieldFirst",
                   [] {
                       return "1.3.0\r\n" +
                              signedFields("delta-v2=" + std::string(64, 'f') + " " + knownFields);
                   },
                   AnswerVerdict::verified, ""},
        AnswerCase{"KnownFieldsInAnotherOrder",
                   [] {
                       return "1.3.0\r\n" +
                              signedFields("expires=2027-01-07T12:00:00Z size=4096 sha512=" +
                                           std::string(128, 'a') + " version=1.3.0");
                   },
                   AnswerVerdict::verified, ""},
        AnswerCase{"LaterFieldChanged",
                   [] {
                       return replaced("1.3.0\r\n" + signedFields(knownFields + " channel=stable"),
                                       "channel=stable", "channel=beta");
                   },
                   AnswerVerdict::badSignature, "does not match its signature"},
        AnswerCase{"FieldTwice",
                   [] { return "1.3.0\r\n" + signedFields(knownFields + " size=4096"); },
                   AnswerVerdict::malformedLine, "names the field size twice"},
        AnswerCase{"LaterFieldTwice",
                   [] { return "1.3.0\r\n" + signedFields(knownFields + " a=1 a=2"); },
                   AnswerVerdict::malformedLine, "names the field a twice"},
        AnswerCase{"KeyAmongTheSignedFields",
                   [] {
                       return "1.3.0\r\n" + signedFields(knownFields + " key=" +
                                                         keys().publisher.publicKeyBase64);
                   },
                   AnswerVerdict::malformedLine, "names the field key twice"},
        AnswerCase{"FieldWithoutValue",
                   [] { return "1.3.0\r\n" + signedFields(knownFields + " channel="); },
                   AnswerVerdict::malformedLine, "not NAME=VALUE"},
        AnswerCase{"FieldWithoutName",
                   [] { return "1.3.0\r\n" + signedFields(knownFields + " =stable"); },
                   AnswerVerdict::malformedLine, "not NAME=VALUE"},
        AnswerCase{"FieldNameInCapitals",
                   [] { return "1.3.0\r\n" + signedFields(knownFields + " Channel=stable"); },
                   AnswerVerdict::malformedLine, "not NAME=VALUE"},
        AnswerCase{"NotAField", [] { return "1.3.0\r\n" + signedFields(knownFields + " stable"); },
                   AnswerVerdict::malformedLine, "not NAME=VALUE"},
        AnswerCase{
            "TwoBlanks",
            [] { return "1.3.0\r\n" + signedFields("version=1.3.0  " + knownFields.substr(14)); },
            AnswerVerdict::malformedLine, "not NAME=VALUE"},
        AnswerCase{"ControlByteInAValue",
                   [] { return "1.3.0\r\n" + signedFields(knownFields + " channel=a\tb"); },
                   AnswerVerdict::malformedLine, "not NAME=VALUE"},
        AnswerCase{"OtherForm",
                   [] { return replaced("1.3.0\r\n" + line("1.3.0"), " v1 ", " v2 "); },
                   AnswerVerdict::malformedLine, "does not begin with"}),
    testsupport::CaseName());

TEST(ReleaseLine, ReadsBackTheManifestDigestOnlyWhenItCarriesOne) {
    std::string why;
    const auto with = signature::parseReleaseLine(manifestLine("1.3.0"), why);
    ASSERT_TRUE(with.has_value()) << why;
    EXPECT_EQ(with->manifest, manifestDigest());
    const auto without = signature::parseReleaseLine(line("1.3.0"), why);
    ASSERT_TRUE(without.has_value()) << why;
    EXPECT_FALSE(without->manifest.has_value());
}

// A line with both digests reads back with both and writes back as the
// same text, the directory right after the manifest: where a reader that
// knows only the manifest puts it when it renews the line.
TEST(ReleaseLine, ReadsBackTheDirectoryDigestAfterTheManifest) {
    signature::PackageDigest package{};
    signature::DirectoryDigest directory{};
    directory.fill(0xef);
    const std::string text = signature::formatReleaseLine(signature::signRelease(
        "1.3.0", 4096, package, expires, keys().publisherKey, manifestDigest(), directory));
    std::string why;
    const auto read = signature::parseReleaseLine(text, why);
    ASSERT_TRUE(read.has_value()) << why;
    EXPECT_EQ(read->directory, directory);
    EXPECT_EQ(signature::formatReleaseLine(*read), text);
    EXPECT_LT(text.find(" manifest="), text.find(" directory="));
}

// A line read with fields it does not know writes them back as they came,
// so that renewing it keeps what a later tool signed.
TEST(ReleaseLine, KeepsTheFieldsItDoesNotKnow) {
    std::string why;
    const auto read = signature::parseReleaseLine(
        signedFields(knownFields + " channel=stable delta-v2=" + std::string(8, 'f')), why);
    ASSERT_TRUE(read.has_value()) << why;
    EXPECT_EQ(read->laterFields, (std::vector<std::pair<std::string, std::string>>{
                                     {"channel", "stable"}, {"delta-v2", std::string(8, 'f')}}));
    EXPECT_EQ(signature::releaseSignedText(*read),
              "morvane-release v1 " + knownFields +
                  " channel=stable delta-v2=" + std::string(8, 'f'));
}

TEST(UtcTime, ReadsBackWhatItWritesAndNothingElse) {
    EXPECT_EQ(signature::formatUtcTime(now), "2026-12-08T12:00:00Z");
    EXPECT_EQ(signature::parseUtcTime("2026-12-08T12:00:00Z"), now);
    EXPECT_EQ(signature::parseUtcTime("2028-02-29T00:00:00Z"), 1'835'395'200);
    for (const char* text : {"2027-02-29T00:00:00Z", "2026-12-08 12:00:00Z", "2026-12-08T12:00:00",
                             "2026-12-08T24:00:00Z", "2026-1-08T12:00:00Z", ""}) {
        EXPECT_FALSE(signature::parseUtcTime(text).has_value()) << text;
    }
}

} // namespace
