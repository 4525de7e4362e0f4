#pragma once

#include "platform/toolkit/Toolkit.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace platform {

// Thrown where the real toolkit would end the program, so that a test sees
// the end and everything after it stays undone. It is no std::exception:
// handlers of the program never catch it.
struct ProgramEnded {};

struct RecordedMessageBox {
    std::string prompt;
    int style = 0;
    std::string title; // as passed; empty means the application title
};

// A toolkit for tests: records every call and answers boxes from a script.
class ScriptedToolkit : public Toolkit, public UpdaterControls {
public:
    ScriptedToolkit();

    // Toolkit
    void setAppTitle(const std::string& title) override { m_appTitle = title; }
    std::string appTitle() const override { return m_appTitle; }
    void setMousePointer(int pointer) override;
    int mousePointer() const override { return m_mousePointer; }
    int msgBox(const std::string& prompt, int style, const std::string& title) override;
    std::string inputBox(const std::string& prompt, const std::string& title) override;
    void doEvents() override;
    [[noreturn]] void endProgram() override;

    // UpdaterControls
    Label& lblMessage() override { return m_lblMessage; }
    Button& cmdDownload() override { return m_cmdDownload; }
    Button& cmdCancel() override { return m_cmdCancel; }
    ProgressBar& ProgressBar1() override { return m_progressBar; }

    // Script: answers for the next boxes, in order. A box with no scripted
    // answer gets OK (1) for OK-only styles and fails the test otherwise.
    void answerNext(int answer) { m_answers.push_back(answer); }
    void answerNextInput(const std::string& text) { m_inputAnswers.push_back(text); }
    // Runs an action during the Nth pump (counting from 1).
    void atPump(long pumpNumber, std::function<void()> action);
    // Runs an action at every pump from now on.
    void atEveryPump(std::function<void()> action) { m_everyPump = std::move(action); }

    // Record.
    const std::vector<RecordedMessageBox>& messageBoxes() const { return m_messageBoxes; }
    const std::vector<RecordedMessageBox>& inputBoxes() const { return m_inputBoxes; }
    const std::vector<std::string>& captions() const { return m_captions; }
    const std::vector<float>& barValues() const { return m_barValues; }
    long pumps() const { return m_pumps; }
    bool ended() const { return m_ended; }
    // Calls in order, as short text lines ("caption Downloading...",
    // "msgbox 64 ...", "end"), for checking sequences; pumps are counted only.
    const std::vector<std::string>& journal() const { return m_journal; }

private:
    class ScriptLabel : public Label {
    public:
        explicit ScriptLabel(ScriptedToolkit& owner) : m_owner(owner) {}
        void setCaption(const std::string& text) override;
        std::string caption() const override { return m_text; }

    private:
        ScriptedToolkit& m_owner;
        std::string m_text;
    };
    class ScriptButton : public Button {
    public:
        ScriptButton(ScriptedToolkit& owner, std::string name)
            : m_owner(owner), m_name(std::move(name)) {}
        void setEnabled(bool enabled) override;
        bool isEnabled() const override { return m_enabled; }

    private:
        ScriptedToolkit& m_owner;
        std::string m_name;
        bool m_enabled = true;
    };
    class ScriptProgressBar : public ProgressBar {
    public:
        explicit ScriptProgressBar(ScriptedToolkit& owner) : m_owner(owner) {}
        void setValue(float value) override;
        float value() const override { return m_value; }
        void setVisible(bool visible) override;
        bool isVisible() const override { return m_visible; }

    private:
        ScriptedToolkit& m_owner;
        float m_value = 0;
        bool m_visible = true;
    };

    void note(std::string line) { m_journal.push_back(std::move(line)); }

    std::string m_appTitle;
    int m_mousePointer = MousePointer::normal;
    std::deque<int> m_answers;
    std::deque<std::string> m_inputAnswers;
    std::map<long, std::function<void()>> m_pumpActions;
    std::function<void()> m_everyPump;
    std::vector<RecordedMessageBox> m_messageBoxes;
    std::vector<RecordedMessageBox> m_inputBoxes;
    std::vector<std::string> m_captions;
    std::vector<float> m_barValues;
    std::vector<std::string> m_journal;
    long m_pumps = 0;
    bool m_ended = false;
    ScriptLabel m_lblMessage{*this};
    ScriptButton m_cmdDownload{*this, "cmdDownload"};
    ScriptButton m_cmdCancel{*this, "cmdCancel"};
    ScriptProgressBar m_progressBar{*this};
};

} // namespace platform
