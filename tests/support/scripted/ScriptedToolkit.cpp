#include "testsupport/ScriptedToolkit.h"

#include "fileio/BufferedFile.h"
#include "platform/Error.h"

#include <stdexcept>

namespace platform {

ScriptedToolkit::ScriptedToolkit() = default;

void ScriptedToolkit::setMousePointer(int pointer) {
    m_mousePointer = pointer;
    note("pointer " + std::to_string(pointer));
}

int ScriptedToolkit::msgBox(const std::string& prompt, int style, const std::string& title) {
    m_messageBoxes.push_back({prompt, style, title});
    note("msgbox " + std::to_string(style) + " [" + title + "] " + prompt);
    if (!m_answers.empty()) {
        const int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    if ((style & 7) == MsgBoxStyle::okOnly) {
        return MsgBoxAnswer::ok;
    }
    throw std::logic_error("no scripted answer for the box: " + prompt);
}

std::string ScriptedToolkit::inputBox(const std::string& prompt, const std::string& title) {
    m_inputBoxes.push_back({prompt, 0, title});
    note("inputbox [" + title + "] " + prompt);
    if (m_inputAnswers.empty()) {
        return {};
    }
    std::string answer = m_inputAnswers.front();
    m_inputAnswers.pop_front();
    return answer;
}

void ScriptedToolkit::atPump(long pumpNumber, std::function<void()> action) {
    m_pumpActions[pumpNumber] = std::move(action);
}

void ScriptedToolkit::doEvents() {
    ++m_pumps;
    const auto action = m_pumpActions.find(m_pumps);
    if (action != m_pumpActions.end()) {
        // Taken out first: the action may pump again itself.
        auto run = std::move(action->second);
        m_pumpActions.erase(action);
        run();
    }
    if (m_everyPump) {
        // A copy: the action may replace itself.
        const auto every = m_everyPump;
        every();
    }
}

void ScriptedToolkit::endProgram() {
    // As the real end: buffered files reach the disk before anything else
    // could, so a test sees the files as the program leaves them.
    fileio::flushOpenFiles();
    m_ended = true;
    note("end");
    throw ProgramEnded{};
}

void ScriptedToolkit::ScriptLabel::setCaption(const std::string& text) {
    m_text = text;
    m_owner.m_captions.push_back(text);
    m_owner.note("caption " + text);
}

void ScriptedToolkit::ScriptButton::setEnabled(bool enabled) {
    m_enabled = enabled;
    m_owner.note(m_name + (enabled ? " enabled" : " disabled"));
}

void ScriptedToolkit::ScriptProgressBar::setValue(float value) {
    if (!(value >= 0 && value <= 100)) {
        raiseError(ErrorNumber::invalidPropertyValue, "ProgressBar1");
    }
    m_value = value;
    m_owner.m_barValues.push_back(value);
}

void ScriptedToolkit::ScriptProgressBar::setVisible(bool visible) {
    m_visible = visible;
    m_owner.note(std::string("bar ") + (visible ? "shown" : "hidden"));
}

} // namespace platform
