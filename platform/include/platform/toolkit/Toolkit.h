#pragma once

#include <string>

namespace platform {

// Message box style = buttons + icon; answers are the button pressed.
struct MsgBoxStyle {
    static constexpr int okOnly = 0;
    static constexpr int okCancel = 1;
    static constexpr int yesNoCancel = 3;
    static constexpr int yesNo = 4;
    static constexpr int critical = 16;
    static constexpr int question = 32;
    static constexpr int exclamation = 48;
    static constexpr int information = 64;
};

struct MsgBoxAnswer {
    static constexpr int ok = 1;
    static constexpr int cancel = 2;
    static constexpr int yes = 6;
    static constexpr int no = 7;
};

struct MousePointer {
    static constexpr int normal = 0;
    static constexpr int busy = 11;
};

class Label {
public:
    virtual ~Label() = default;
    virtual void setCaption(const std::string& text) = 0;
    virtual std::string caption() const = 0;
};

class Button {
public:
    virtual ~Button() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
};

// A bar over 0 to 100; a value outside that range raises error 380.
class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void setValue(float value) = 0;
    virtual float value() const = 0;
    virtual void setVisible(bool visible) = 0;
    virtual bool isVisible() const = 0;
};

// The window's event handlers, called by the toolkit.
class FormEvents {
public:
    virtual ~FormEvents() = default;
    virtual void Form_Load() = 0;
    virtual void Form_Activate() = 0;
    virtual void cmdDownload_Click() = 0;
    virtual void cmdCancel_Click() = 0;
    // The window's close box.
    virtual void Form_Close() = 0;
};

// The controls of the updater window that the handlers reach.
class UpdaterControls {
public:
    virtual ~UpdaterControls() = default;
    virtual Label& lblMessage() = 0;
    virtual Button& cmdDownload() = 0;
    virtual Button& cmdCancel() = 0;
    virtual ProgressBar& ProgressBar1() = 0;
};

// Application-wide services of the window toolkit.
class Toolkit {
public:
    virtual ~Toolkit() = default;
    virtual void setAppTitle(const std::string& title) = 0;
    virtual std::string appTitle() const = 0;
    virtual void setMousePointer(int pointer) = 0;
    virtual int mousePointer() const = 0;
    // Modal box; an empty title means the application title.
    virtual int msgBox(const std::string& prompt, int style, const std::string& title) = 0;
    // Modal input box; Cancel answers the empty text.
    virtual std::string inputBox(const std::string& prompt, const std::string& title) = 0;
    // Handles the window events waiting now, once.
    virtual void doEvents() = 0;
    // The same from a loop that asks again and again while it works (after
    // every 1 KiB of a download): a toolkit for which handling events costs
    // a system call may handle them at most so often that the window
    // cannot tell.
    virtual void doEventsWhileBusy() { doEvents(); }
    // Ends the program at once: open files are flushed and closed (C streams
    // and fileio::BufferedFile, so a partly downloaded package keeps every
    // byte received), nothing else runs.
    [[noreturn]] virtual void endProgram() = 0;
};

} // namespace platform
