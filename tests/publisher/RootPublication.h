#pragma once

// A publication by a publisher with root keys (r1, r2, r3, two needed),
// release keys a and b, and new roots n1 and n2, made with the publisher's
// tool as a publisher makes it, and an installation of 1.2.0.5 that a root
// build updates in its real window.
#include "PublisherRun.h"

#include "platform/files/DiskFileSystem.h"
#include "run/UpdateRun.h"
#include "signature/Base64.h"
#include "signature/KeysLine.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "testsupport/RunOutcome.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <string>
#include <vector>

struct RootPublication {
    testsupport::TempDir scratch;
    testsupport::TempDir web;
    testsupport::TempDir root;
    testsupport::TempDir release;
    std::map<std::string, testsupport::PublisherKey> keys;
    std::string served = web / "clientfiles/morvane";
    std::string install = root / "Morvane";

    RootPublication() {
        for (const char* name : {"r1", "r2", "r3", "n1", "n2", "a", "b"}) {
            keys.emplace(name,
                         testsupport::makePublisherKey(scratch / (std::string(name) + ".pem")));
        }
        testsupport::TempDir::makeFolder(install);
        testsupport::writeVersionedExecutable(install + "/morvane.exe", "1.2.0.5");
    }
    // The build's setting: r1, r2, r3, two needed.
    std::string buildKey() const {
        return "roots:2:" + keys.at("r1").publicKeyBase64 + "," + keys.at("r2").publicKeyBase64 +
               "," + keys.at("r3").publicKeyBase64;
    }
    // The tool's --make-keys by the root key files named, two needed.
    PublisherRun runMakeKeys(const std::vector<std::string>& roots, const std::string& releaseKey,
                             const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments{"--make-keys"};
        for (const std::string& name : roots) {
            arguments.insert(arguments.end(), {"--root", keys.at(name).privateKeyFile});
        }
        arguments.insert(arguments.end(), {"--threshold", "2"});
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.insert(arguments.end(), {web.path(), keys.at(releaseKey).publicKeyBase64});
        return runPublisher(arguments, scratch / "keys.out");
    }
    void makeKeys(const std::vector<std::string>& roots, const std::string& releaseKey,
                  const std::vector<std::string>& extra = {}) {
        const PublisherRun run = runMakeKeys(roots, releaseKey, extra);
        ASSERT_EQ(run.status, 0) << run.output;
    }
    // The release folder published as version, signed by signer.
    PublisherRun runPublish(const std::string& version, const std::string& signer,
                            const std::vector<std::string>& options = {}) {
        // The updater reads a file version's first, second and fourth part.
        const std::size_t third = version.rfind('.');
        testsupport::writeVersionedExecutable(
            release / "morvane.exe", version.substr(0, third) + ".0" + version.substr(third));
        std::vector<std::string> arguments{"--key", keys.at(signer).privateKeyFile};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.insert(arguments.end(), {release.path(), version, web.path()});
        return runPublisher(arguments, scratch / "publish.out");
    }
    void publish(const std::string& version, const std::string& signer,
                 const std::vector<std::string>& options = {}) {
        const PublisherRun run = runPublish(version, signer, options);
        ASSERT_EQ(run.status, 0) << run.output;
    }
    signature::PublicKey pub(const std::string& name) const {
        return *signature::publicKeyFromBase64(keys.at(name).publicKeyBase64);
    }
    // The build's roots.
    signature::RootSet roots() const { return {1, {pub("r1"), pub("r2"), pub("r3")}, 2}; }
    // The window's run; what it came to.
    testsupport::RunOutcome update(const std::string& host) {
        testsupport::ChildProcess updater(
            {QT_UPDATE_CHILD, install, host, REAL_UNZIP32_FOLDER, "", buildKey()},
            scratch / "updater.out");
        status = updater.exitStatusWithin(std::chrono::seconds(60));
        said = testsupport::readFile(scratch / "updater.out");
        return testsupport::lastRunOutcome(said).value_or(testsupport::RunOutcome{});
    }
    std::string installedVersion() const {
        return platform::DiskFileSystem().GetFileVersion(install + "/morvane.exe");
    }
    // The served answer with its release line signed by signer and carrying
    // keysLine: what an attacker holding signer would serve.
    void serveAnswer(const std::string& version, const std::string& signer,
                     const std::string& keysLine) {
        const auto identity = signature::identifyPackage(served + "/morvane.zip");
        testsupport::writeFile(
            served + "/version.php",
            version + "\r\n" +
                signature::formatReleaseLine(signature::signRelease(
                    version, identity.size, identity.sha512, std::time(nullptr) + 86400,
                    signature::SigningKey::fromFile(keys.at(signer).privateKeyFile), std::nullopt,
                    std::nullopt,
                    {{"keys", signature::encodeBase64(
                                  reinterpret_cast<const std::uint8_t*>(keysLine.data()),
                                  keysLine.size())}})));
    }
    std::string keysLine() const {
        const std::string text = testsupport::readFile(served + "/keys.txt");
        return text.substr(0, text.find('\n'));
    }
    // The window's run ended the program with version installed, on a
    // trusted keys line.
    void expectInstalled(const std::string& host, const std::string& version) {
        const auto installed = update(host);
        ASSERT_EQ(status, 0) << said;
        EXPECT_EQ(installed.as<signature::KeysVerdict>("keys"), signature::KeysVerdict::trusted);
        EXPECT_EQ(installedVersion(), version);
    }
    int status = -1;
    std::string said;
};
