#pragma once

#include "app/frmUpdater.h"
#include "platform/scripted/ScriptedToolkit.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

using testsupport::writeVersionedExecutable;

// The window with its later stages supplied by the test.
class TestUpdater : public frmUpdater {
public:
    using frmUpdater::frmUpdater;

    std::function<void(const std::string&, const std::string&)> onDownload;
    std::function<void(const std::string&)> onUnzip;
    std::function<void()> onExtract;
    // What the two stages report back to the run.
    std::optional<std::string> unzipFailure;
    bool extractSucceeds = true;
    std::vector<std::string> stages;

    void DownloadFile(const std::string& strURL, const std::string& strDestination) override {
        stages.push_back("download " + strURL + " -> " + strDestination);
        if (onDownload) {
            onDownload(strURL, strDestination);
        }
    }
    std::optional<std::string> UnzipPackage(const std::string& name) override {
        stages.push_back("unzip " + name);
        if (onUnzip) {
            onUnzip(name);
        }
        return unzipFailure;
    }
    bool processExtract() override {
        stages.push_back("extract");
        if (onExtract) {
            onExtract();
        }
        return extractSucceeds;
    }
};

// An installation folder, a version endpoint on loopback that answers from
// a queue, the scripted toolkit and the window.
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
        m_server.start();
        makeWindow(m_server.host());
    }

    void makeWindow(const std::string& versionHost) {
        form = std::make_unique<TestUpdater>(
            ui, ui, UpdaterSettings{install.path(), versionHost, "packages.morvane.example"});
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
    std::size_t versionRequests() const { return m_server.requests().size(); }
    std::vector<testsupport::ReceivedRequest> receivedRequests() const {
        return m_server.requests();
    }

    // Runs the window's activation; true when the program ended.
    bool activate() {
        try {
            form->Form_Activate();
        } catch (const platform::ProgramEnded&) {
            return true;
        }
        return false;
    }

    std::string log() const { return testsupport::readFile(install / "NoteError.txt"); }

    testsupport::TempDir install;
    platform::ScriptedToolkit ui;
    std::unique_ptr<TestUpdater> form;

private:
    testsupport::LoopbackServer m_server;
    std::mutex m_answersMutex;
    std::deque<std::string> m_answers;
    std::string m_lastAnswer;
};
