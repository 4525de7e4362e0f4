// A package signed by the publisher's key, then changed the ways a hostile
// network or mirror could change it: each change is refused for its own
// reason. Archives come from Python's zipfile, keys from the openssl command.
#include "signature/PackageCheck.h"
#include "signature/ArrivingPackage.h"
#include "signature/PackageSigning.h"
#include "signature/SignatureError.h"
#include "signature/VersionText.h"

#include "testsupport/PackageBuilder.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace {

using signature::PackageVerdict;
using testsupport::readFile;
using testsupport::writeFile;

class SignedPackage : public ::testing::Test {
protected:
    SignedPackage()
        : publisher(testsupport::makePublisherKey(keys / "publisher.pem")),
          other(testsupport::makePublisherKey(keys / "other.pem")) {
        testsupport::buildPackage(unsignedPackage,
                                  {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"},
                                   {"morvane.exe", std::string(3000, 'x')}});
    }

    // A copy of the unsigned package signed by the key file for version.
    std::string signedCopy(const std::string& keyFile, const std::string& version) {
        const std::string copy = keys / ("signed-" + version + ".zip");
        writeFile(copy, readFile(unsignedPackage));
        signature::signPackage(copy, signature::SigningKey::fromFile(keyFile), version);
        return copy;
    }

    // The verdict on the file, which the package's bytes handed over as they
    // arrive, in pieces of every size, must give the same.
    PackageVerdict verdictFor(const std::string& bytes, const std::string& offered = "1.3.0") {
        writeFile(checked, bytes);
        const auto key = signature::publicKeyFromBase64(publisher.publicKeyBase64);
        EXPECT_TRUE(key.has_value());
        const signature::PackageCheck onDisk = signature::checkPackage(checked, *key, offered);
        signature::ArrivingPackage arriving;
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        for (std::size_t at = 0, piece = 1; at < bytes.size(); at += piece, piece = piece * 3 + 1) {
            arriving.add(data + at, std::min(piece, bytes.size() - at));
        }
        const signature::PackageCheck arrived = arriving.check(*key, offered);
        EXPECT_EQ(arrived.verdict, onDisk.verdict);
        EXPECT_EQ(arrived.description, onDisk.description);
        return onDisk.verdict;
    }

    testsupport::TempDir keys;
    testsupport::PublisherKey publisher;
    testsupport::PublisherKey other;
    std::string unsignedPackage = keys / "unsigned.zip";
    std::string checked = keys / "checked.zip";
};

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    const std::size_t at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

TEST_F(SignedPackage, EveryChangeAfterSigningIsRefusedForItsOwnReason) {
    const std::string good = readFile(signedCopy(publisher.privateKeyFile, "1.3.0"));
    const std::string line = good.substr(good.find("morvane-signature"));
    const std::string endRecord = good.substr(good.rfind("PK\x05\x06"));
    const std::string signatureText = line.substr(line.find("ed25519=") + 8);
    const std::string unsignedBytes = readFile(unsignedPackage);
    const auto flipped = [&](std::size_t at) {
        std::string bytes = good;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
        return bytes;
    };
    struct Case {
        const char* what;
        std::string bytes;
        PackageVerdict verdict;
    };
    const std::vector<Case> cases{
        {"as signed", good, PackageVerdict::signedForOffer},
        {"first byte flipped", flipped(0), PackageVerdict::badSignature},
        {"entry data flipped", flipped(good.size() / 3), PackageVerdict::badSignature},
        {"central directory flipped", flipped(good.rfind("PK\x01\x02") + 10),
         PackageVerdict::badSignature},
        {"end record's entry count changed", flipped(good.rfind("PK\x05\x06") + 8),
         PackageVerdict::badSignature},
        {"signed version rewritten", replaced(good, "version=1.3.0", "version=1.4.0"),
         PackageVerdict::badSignature},
        {"signature text changed",
         replaced(good, signatureText.substr(10, 4),
                  signatureText.substr(10, 4) == "AAAA" ? "BBBB" : "AAAA"),
         PackageVerdict::badSignature},
        {"bytes appended", good + "appended", PackageVerdict::dataAfterEnd},
        // A second end record and signature after the first: the last one
        // ends the file, but its signature does not cover what it follows.
        {"end record spliced after the signature", good + "junk" + endRecord,
         PackageVerdict::badSignature},
        {"unsigned", unsignedBytes, PackageVerdict::unsigned_},
        {"other comment",
         unsignedBytes.substr(0, unsignedBytes.size() - 2) + std::string("\x05\x00hello", 7),
         PackageVerdict::unsigned_},
        {"error page", "<html><body>404</body></html>", PackageVerdict::notAnArchive},
        {"empty file", "", PackageVerdict::notAnArchive},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(verdictFor(c.bytes), c.verdict) << c.what;
    }
}

// A package far longer than the end a check keeps in memory: what arrives
// is checked as the file is.
TEST_F(SignedPackage, ALongPackageArrivingInPiecesIsCheckedAsOnDisk) {
    const std::string package = keys / "long.zip";
    std::mt19937 random(7);
    std::string noise(700 * 1024, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    testsupport::buildPackage(package,
                              {{"updater.ini", "MOVE;data.bin;APP_PATH\r\n"}, {"data.bin", noise}});
    signature::signPackage(package, signature::SigningKey::fromFile(publisher.privateKeyFile),
                           "1.3.0");
    std::string bytes = readFile(package);
    EXPECT_EQ(verdictFor(bytes), PackageVerdict::signedForOffer);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x40);
    EXPECT_EQ(verdictFor(bytes), PackageVerdict::badSignature);
}

TEST_F(SignedPackage, SignatureLinesThatCannotBeReadAreRefused) {
    const std::string good = readFile(signedCopy(publisher.privateKeyFile, "1.3.0"));
    const std::size_t lineStart = good.find("morvane-signature");
    const std::string line = good.substr(lineStart);
    const std::string signatureText = line.substr(line.find("ed25519="));
    const std::string keyText = line.substr(line.find("key="), 48);
    for (const std::string& bad : {
             replaced(line, " v1 ", " v2 "),
             replaced(line, "version=1.3.0", "version=1.3"),
             replaced(line, "version=1.3.0", "version=1.3.0-beta"),
             replaced(line, " " + signatureText, ""),
             line + " more=1",
             line + " ",
             line + "\n",
             replaced(line, keyText, "key=" + keyText.substr(5, 42) + "=="),
             replaced(line, signatureText, signatureText.substr(0, signatureText.size() - 4)),
         }) {
        // The comment length follows the line it now announces.
        std::string bytes = good.substr(0, lineStart - 2);
        bytes += static_cast<char>(bad.size() & 0xff);
        bytes += static_cast<char>(bad.size() >> 8);
        EXPECT_EQ(verdictFor(bytes + bad), PackageVerdict::malformedLine) << bad;
    }
}

TEST_F(SignedPackage, KeyAndVersionMustBeThoseOfTheOffer) {
    EXPECT_EQ(verdictFor(readFile(signedCopy(other.privateKeyFile, "1.3.0"))),
              PackageVerdict::otherKey);
    // Another key's signature under the publisher's key name.
    const std::string otherSigned = readFile(signedCopy(other.privateKeyFile, "1.3.0"));
    const std::string otherKeyText =
        otherSigned.substr(otherSigned.find("key=") + 4, publisher.publicKeyBase64.size());
    EXPECT_EQ(verdictFor(replaced(otherSigned, otherKeyText, publisher.publicKeyBase64)),
              PackageVerdict::badSignature);

    const std::string older = readFile(signedCopy(publisher.privateKeyFile, "1.2.9"));
    EXPECT_EQ(verdictFor(older, "1.3.0"), PackageVerdict::otherVersion);
    // The offer as the endpoint answers it: a line end and a fourth piece
    // change nothing, as they change nothing in the version check.
    for (const char* offered : {"1.2.9", "1.2.9\r\n", "1.2.9.7", "01.2.9"}) {
        EXPECT_EQ(verdictFor(older, offered), PackageVerdict::signedForOffer) << offered;
    }
}

TEST_F(SignedPackage, SigningRefusesWhatItCannotSignSoundly) {
    const auto key = signature::SigningKey::fromFile(publisher.privateKeyFile);
    const std::string signedOnce = signedCopy(publisher.privateKeyFile, "1.3.0");
    const std::string before = readFile(signedOnce);
    const std::vector<std::function<void()>> refusals{
        // Signed twice would leave the first signature where the second goes.
        [&] { signature::signPackage(signedOnce, key, "1.3.0"); },
        [&] { signature::signPackage(unsignedPackage, key, "1.3"); },
        [&] { signature::signPackage(keys / "missing.zip", key, "1.3.0"); },
    };
    for (std::size_t i = 0; i < refusals.size(); ++i) {
        EXPECT_THROW(refusals[i](), signature::SignatureError) << i;
    }
    EXPECT_EQ(readFile(signedOnce), before);
}

} // namespace
