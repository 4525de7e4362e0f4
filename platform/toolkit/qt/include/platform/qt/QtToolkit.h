#pragma once

#include "platform/toolkit/Toolkit.h"

#include <chrono>
#include <string>

namespace platform {

// Application-wide services over Qt Widgets: the title of untitled boxes, the
// busy pointer, modal boxes, the event pump and the immediate end.
class QtToolkit : public Toolkit {
public:
    void setAppTitle(const std::string& title) override { m_appTitle = title; }
    std::string appTitle() const override { return m_appTitle; }
    // 11 is the wait cursor over the whole application; 0 (and any pointer
    // this program does not draw) is the default one.
    void setMousePointer(int pointer) override;
    int mousePointer() const override { return m_mousePointer; }
    int msgBox(const std::string& prompt, int style, const std::string& title) override;
    std::string inputBox(const std::string& prompt, const std::string& title) override;
    void doEvents() override;
    void doEventsWhileBusy() override;
    [[noreturn]] void endProgram() override;

private:
    std::string titleOrAppTitle(const std::string& title) const;

    std::string m_appTitle;
    int m_mousePointer = MousePointer::normal;
    // When the window's events were last handled.
    std::chrono::steady_clock::time_point m_lastEvents;
};

} // namespace platform
