#pragma once

#include "codemodule/CodeModuleState.h"
#include "fixtures/Activation.h"
#include "platform/SystemServices.h"
#include "run/frmUpdater.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/PackageBuilder.h"
#include "testsupport/ScriptedToolkit.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

using testsupport::writeVersionedExecutable;

// An installation folder, a publisher on loopback whose version endpoint
// answers from a queue and which serves the package the test sets, the real
// unzip library, the scripted toolkit and the window over the real services.
class UpdaterFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_server.server().Get("/clientfiles/morvane/version.php", [this](const httplib::Request&,
                                                                         httplib::Response& res) {
            std::lock_guard<std::mutex> lock(m_answersMutex);
            std::string body = m_answers.empty() ? m_lastAnswer : m_answers.front();
            if (!m_answers.empty()) {
                m_lastAnswer = m_answers.front();
                m_answers.pop_front();
            }
            res.set_content(body, "text/plain");
        });
        m_server.server().Get("/clientfiles/morvane/morvane.zip",
                              [this](const httplib::Request&, httplib::Response& res) {
                                  std::lock_guard<std::mutex> lock(m_answersMutex);
                                  res.set_content(m_package, "application/zip");
                              });
        m_server.start();
        CodeModule::setLibraryFolder(REAL_UNZIP32_FOLDER);
        makeWindow(m_server.host());
    }

    // The package host is a name that never resolves unless the test has the
    // package served from loopback.
    void makeWindow(const std::string& versionHost,
                    const std::string& packageHost = "packages.morvane.example",
                    const std::string& packageKey = "") {
        form = std::make_unique<updater::frmUpdater>(
            ui, ui, services,
            updater::UpdaterSettings{install.path(), versionHost, packageHost, packageKey});
        form->setToday([] {
            std::tm day{};
            day.tm_mday = 7;
            day.tm_mon = 11;
            day.tm_year = 126;
            return day;
        });
        form->Form_Load();
    }

    void serve(const std::vector<std::string>& answers) {
        std::lock_guard<std::mutex> lock(m_answersMutex);
        m_answers.assign(answers.begin(), answers.end());
    }

    std::string versionHost() const { return m_server.host(); }
    // Serves a zip of the entries as the package, and points a new window at it.
    void servePackage(const std::vector<testsupport::PackageEntry>& entries) {
        const std::string archive = staging / "package.zip";
        testsupport::buildPackage(archive, entries);
        std::lock_guard<std::mutex> lock(m_answersMutex);
        m_package = testsupport::readFile(archive);
        makeWindow(m_server.host(), m_server.host());
    }
    std::size_t versionRequests() const { return m_server.requests().size(); }
    std::vector<testsupport::ReceivedRequest> receivedRequests() const {
        return m_server.requests();
    }

    // Runs the window's activation; true when the program ended.
    bool activate() { return activateUntilEnd(*form); }

    std::string log() const { return testsupport::readFile(install / "NoteError.txt"); }

    testsupport::TempDir install;
    testsupport::TempDir staging;
    platform::ScriptedToolkit ui;
    platform::SystemServices services;
    std::unique_ptr<updater::frmUpdater> form;

private:
    testsupport::LoopbackServer m_server;
    std::mutex m_answersMutex;
    std::deque<std::string> m_answers;
    std::string m_lastAnswer;
    std::string m_package;
};
