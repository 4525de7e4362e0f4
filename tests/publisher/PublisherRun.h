#pragma once

#include "testsupport/ChildProcess.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/TempDir.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The publisher's tool run as a publisher runs it, in a process of its own.
struct PublisherRun {
    int status = -1;
    std::string output; // standard output and error together
};

inline PublisherRun runPublisher(const std::vector<std::string>& arguments,
                                 const std::string& outputFile) {
    std::vector<std::string> command{MORVANE_PUBLISH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    testsupport::ChildProcess child(command, outputFile);
    PublisherRun run;
    run.status = child.exitStatusWithin(std::chrono::seconds(60));
    run.output = testsupport::readFile(outputFile);
    return run;
}

// The updater in its real window, offscreen, updating install from the
// server at host as a user who says Yes to everything; its exit status. It
// reaches the server directly unless the environment names a proxy.
inline int
runUpdaterWindow(const std::string& install, const std::string& host,
                 const std::string& publicKeyBase64, const std::string& outputFile,
                 const testsupport::Environment& environment = testsupport::withoutProxies()) {
    testsupport::ChildProcess updater(
        {QT_UPDATE_CHILD, install, host, REAL_UNZIP32_FOLDER, "", publicKeyBase64}, outputFile,
        environment);
    return updater.exitStatusWithin(std::chrono::seconds(60));
}

// A release folder published with a key into web (as 1.3.2 unless told;
// again into the same folder for a later release), and an installation
// folder of an earlier release to update from it.
struct KeyedPublication {
    testsupport::TempDir web;
    testsupport::TempDir scratch;
    testsupport::TempDir root;
    testsupport::TempDir release;
    testsupport::PublisherKey key;
    std::string install;
    std::string package;

    KeyedPublication()
        : key(testsupport::makePublisherKey(scratch / "key.pem")), install(root / "Morvane"),
          package(web / "clientfiles/morvane/morvane.zip") {}

    // The release folder as it stands, published with the options; the
    // installation folder made, empty, the first time.
    void publish(const std::string& version = "1.3.2",
                 const std::vector<std::string>& options = {}) {
        std::vector<std::string> arguments{"--key", key.privateKeyFile};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.insert(arguments.end(), {release.path(), version, web.path()});
        const PublisherRun run = runPublisher(arguments, scratch / "publish.out");
        EXPECT_EQ(run.status, 0) << run.output;
        if (!testsupport::exists(install)) {
            testsupport::TempDir::makeFolder(install);
        }
    }

    int runUpdater(const std::string& host,
                   const testsupport::Environment& environment = testsupport::withoutProxies()) {
        return runUpdaterWindow(install, host, key.publicKeyBase64, scratch / "updater.out",
                                environment);
    }
};
