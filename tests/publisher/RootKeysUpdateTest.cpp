// A root build (three roots, two needed) in its real window against what
// the publisher's tool serves through nginx: a release signed by a listed
// release key installs; one signed by a key the newer keys line dropped is
// refused, and so is the older line replayed; a keys line with one root's
// signature, or expired, is refused; an updater built with the first root
// set installs a release signed under a later one by walking the chain.
#include "RootPublication.h"

#include "run/ReleaseKeys.h"
#include "run/UpdateRun.h"
#include "signature/Base64.h"
#include "signature/KeysLine.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "testsupport/NginxServer.h"
#include "testsupport/RunOutcome.h"
#include "testsupport/VersionedExecutable.h"

#include "platform/files/DiskFileSystem.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>

namespace {

using signature::KeysVerdict;
using testsupport::readFile;
using Check = updater::UpdateRun::Check;

TEST(RootKeysUpdate, AListedReleaseKeyInstallsAndADroppedOneIsRefused) {
    RootPublication published;
    published.makeKeys({"r1", "r3"}, "a");
    published.publish("1.3.0", "a");
    testsupport::NginxServer nginx(published.web.path());

    ASSERT_NO_FATAL_FAILURE(published.expectInstalled(nginx.host(), "1.3.0.0"));
    EXPECT_TRUE(testsupport::exists(published.install + "/updater.trust"));

    // The publisher drops a (leaked) for b; a release a signs is refused
    // while the newer line is served, and the older line replayed is
    // refused by its serial.
    const std::string older = published.keysLine();
    published.makeKeys({"r1", "r2"}, "b");
    // A new release key is meant: the served answer is a's.
    published.publish("1.4.0", "b", {"--replace-key"});
    published.serveAnswer("1.4.0", "a", published.keysLine());
    const auto dropped = published.update(nginx.host());
    EXPECT_EQ(published.status, 4) << published.said;
    EXPECT_EQ(dropped.as<Check>("check"), Check::unreachable);
    EXPECT_EQ(dropped.as<signature::AnswerVerdict>("answer"), signature::AnswerVerdict::otherKey);

    published.serveAnswer("1.4.0", "a", older);
    const auto replayed = published.update(nginx.host());
    EXPECT_EQ(published.status, 4) << published.said;
    EXPECT_EQ(replayed.as<KeysVerdict>("keys"), KeysVerdict::replayed);
    EXPECT_EQ(published.installedVersion(), "1.3.0.0");
}

TEST(RootKeysUpdate, OneRootsSignatureOrAnExpiredLineIsNoAnswer) {
    RootPublication published;
    published.makeKeys({"r1", "r2"}, "a");
    published.publish("1.3.0", "a");
    testsupport::NginxServer nginx(published.web.path());

    signature::KeysLine line{1, 1, std::time(nullptr) + 86400, {}, {}, {}, {}};
    line.releaseKeys = {*signature::publicKeyFromBase64(published.keys.at("a").publicKeyBase64)};
    const auto r1 = signature::SigningKey::fromFile(published.keys.at("r1").privateKeyFile);
    const auto r2 = signature::SigningKey::fromFile(published.keys.at("r2").privateKeyFile);
    signature::signKeysLine(line, {&r1});
    published.serveAnswer("1.3.0", "a", signature::formatKeysLine(line));
    EXPECT_EQ(published.update(nginx.host()).as<KeysVerdict>("keys"), KeysVerdict::belowThreshold)
        << published.said;

    line.expires = std::time(nullptr) - 86400;
    signature::signKeysLine(line, {&r1, &r2});
    published.serveAnswer("1.3.0", "a", signature::formatKeysLine(line));
    EXPECT_EQ(published.update(nginx.host()).as<KeysVerdict>("keys"), KeysVerdict::expired);
    const std::string log = readFile(published.install + "/NoteError.txt");
    EXPECT_NE(log.find(signature::formatUtcTime(line.expires)), std::string::npos) << log;
    EXPECT_NE(log.find("this computer's clock says "), std::string::npos) << log;
    EXPECT_EQ(published.installedVersion(), "1.2.0.5");
}

// The build's roots are rotated away three times; the updater built with
// root set 1 walks every rotation and installs what the release key
// certified under root set 4 signed, and keeps the set it reached.
TEST(RootKeysUpdate, AnOldBuildCatchesUpThroughTheChain) {
    RootPublication published;
    published.makeKeys({"r1", "r2"}, "a");
    const auto rotate = [&](const std::vector<std::string>& from, const std::string& to) {
        published.makeKeys(from, "a",
                           {"--new-root", published.keys.at(to).privateKeyFile, "--new-root",
                            published.keys.at("b").privateKeyFile, "--new-threshold", "2"});
    };
    rotate({"r1", "r2"}, "n1");
    rotate({"n1", "b"}, "n2");
    rotate({"n2", "b"}, "r3");
    published.publish("1.3.0", "a");
    testsupport::NginxServer nginx(published.web.path());

    ASSERT_NO_FATAL_FAILURE(published.expectInstalled(nginx.host(), "1.3.0.0"));
    const std::string record = readFile(published.install + "/updater.trust");
    EXPECT_NE(record.find("rootset=4 "), std::string::npos) << record;
}

// A root rotation is taken only when both sets signed it: signed by the old
// roots alone, or by the new set alone, the chain is broken and nothing is
// trusted under it.
TEST(RootKeysUpdate, ARotationOneSetAloneSignedIsRefused) {
    for (const bool oldAlone : {true, false}) {
        SCOPED_TRACE(oldAlone ? "the old roots alone" : "the new set alone");
        RootPublication published;
        published.makeKeys({"r1", "r2"}, "a");
        published.makeKeys({"r1", "r2"}, "a",
                           {"--new-root", published.keys.at("n1").privateKeyFile, "--new-root",
                            published.keys.at("n2").privateKeyFile, "--new-threshold", "2"});
        published.publish("1.3.0", "a");
        // The chain's line as a forger would serve it, signed by one set.
        const std::string chainPath = published.served + "/rootset-2.txt";
        const std::string chain = readFile(chainPath);
        std::string why;
        auto line = signature::parseKeysLine(chain.substr(0, chain.find('\n')), why);
        ASSERT_TRUE(line) << why;
        std::vector<signature::SigningKey> signers;
        for (const char* name :
             oldAlone ? std::vector{"r1", "r2", "n1"} : std::vector{"n1", "n2"}) {
            signers.push_back(
                signature::SigningKey::fromFile(published.keys.at(name).privateKeyFile));
        }
        std::vector<const signature::SigningKey*> by;
        for (const auto& signer : signers) {
            by.push_back(&signer);
        }
        signature::signKeysLine(*line, by);
        testsupport::writeFile(chainPath, signature::formatKeysLine(*line) + "\n");
        testsupport::NginxServer nginx(published.web.path());

        const auto refused = published.update(nginx.host());
        EXPECT_EQ(published.status, 4) << published.said;
        EXPECT_EQ(refused.as<updater::KeysRefusal>("trust"), updater::KeysRefusal::chainBroken);
        EXPECT_EQ(published.installedVersion(), "1.2.0.5");
    }
}

// A release key rotated through an update: a line listing b alone, a
// release b signs installs, and a signs nothing that is trusted after.
TEST(RootKeysUpdate, ARotatedReleaseKeyIsThenTheOnlyOneTrusted) {
    RootPublication published;
    published.makeKeys({"r1", "r2"}, "a");
    published.publish("1.3.0", "a");
    testsupport::NginxServer nginx(published.web.path());
    ASSERT_NO_FATAL_FAILURE(published.expectInstalled(nginx.host(), "1.3.0.0"));

    published.makeKeys({"r2", "r3"}, "b");
    published.publish("1.4.0", "b", {"--replace-key"});
    ASSERT_NO_FATAL_FAILURE(published.expectInstalled(nginx.host(), "1.4.0.0"));

    published.serveAnswer("1.4.0", "a", published.keysLine());
    const auto refused = published.update(nginx.host());
    EXPECT_EQ(refused.as<signature::AnswerVerdict>("answer"), signature::AnswerVerdict::otherKey);
}

} // namespace
