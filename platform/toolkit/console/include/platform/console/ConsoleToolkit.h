#pragma once

#include "platform/toolkit/Toolkit.h"

#include <ostream>
#include <string>
#include <vector>

namespace platform {

// The toolkit of a command-line tool: no window, no user to ask. A box with
// only an OK button is printed and answered OK; a box that asks a question,
// and every input box, is printed as unanswered and answered Cancel (the
// empty text for an input box), and kept so that the tool can fail with it
// instead of waiting for a user. Pumping events does nothing.
class ConsoleToolkit : public Toolkit {
public:
    explicit ConsoleToolkit(std::ostream& messages) : m_messages(messages) {}

    void setAppTitle(const std::string& title) override { m_appTitle = title; }
    std::string appTitle() const override { return m_appTitle; }
    void setMousePointer(int pointer) override { m_mousePointer = pointer; }
    int mousePointer() const override { return m_mousePointer; }
    int msgBox(const std::string& prompt, int style, const std::string& title) override;
    std::string inputBox(const std::string& prompt, const std::string& title) override;
    void doEvents() override {}
    [[noreturn]] void endProgram() override;

    // The questions that could not be answered, oldest first.
    const std::vector<std::string>& unansweredQuestions() const { return m_unanswered; }

private:
    void refuse(const std::string& prompt, const std::string& title);

    std::ostream& m_messages;
    std::string m_appTitle;
    int m_mousePointer = MousePointer::normal;
    std::vector<std::string> m_unanswered;
};

} // namespace platform
