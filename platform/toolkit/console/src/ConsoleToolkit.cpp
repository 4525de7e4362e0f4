#include "platform/console/ConsoleToolkit.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

// The button part of a box style; the icon part is a multiple of 16.
constexpr int buttonsOf(int style) {
    return style % 16;
}

} // namespace

int ConsoleToolkit::msgBox(const std::string& prompt, int style, const std::string& title) {
    if (buttonsOf(style) == MsgBoxStyle::okOnly) {
        m_messages << (title.empty() ? m_appTitle : title) << ": " << prompt << '\n';
        return MsgBoxAnswer::ok;
    }
    refuse(prompt, title);
    return MsgBoxAnswer::cancel;
}

std::string ConsoleToolkit::inputBox(const std::string& prompt, const std::string& title) {
    refuse(prompt, title);
    return {};
}

void ConsoleToolkit::endProgram() {
    m_messages.flush();
    std::fflush(nullptr);
    std::_Exit(0);
}

void ConsoleToolkit::refuse(const std::string& prompt, const std::string& title) {
    const std::string question = (title.empty() ? m_appTitle : title) + ": " + prompt;
    m_messages << "cannot ask without a user, answered Cancel: " << question << '\n';
    m_unanswered.push_back(question);
}

} // namespace platform
