#pragma once

#include "platform/toolkit/Toolkit.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

namespace qttest {

// Acts on the next modal dialog of type T as soon as it is on screen: the
// action runs from inside the dialog's own event loop. Stops looking when it
// goes away, so a box that never came cannot be answered by a later test.
template <typename T> class ModalResponder {
public:
    explicit ModalResponder(std::function<void(T&)> action) : m_action(std::move(action)) {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }
    bool responded() const { return m_responded; }

private:
    void poll() {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->isVisible()) {
            m_timer.stop();
            m_responded = true;
            m_action(*dialog);
        }
    }

    QTimer m_timer;
    std::function<void(T&)> m_action;
    bool m_responded = false;
};

// Records which of the window's handlers ran, in order.
class RecordingEvents : public platform::FormEvents {
public:
    void Form_Load() override { note("Form_Load"); }
    void Form_Activate() override { note("Form_Activate"); }
    void cmdDownload_Click() override { note("cmdDownload_Click"); }
    void cmdCancel_Click() override { note("cmdCancel_Click"); }
    void Form_Close() override { note("Form_Close"); }

    int count(const std::string& handler) const;
    const std::vector<std::string>& calls() const { return m_calls; }
    void clear() { m_calls.clear(); }

private:
    void note(const std::string& handler) { m_calls.push_back(handler); }
    std::vector<std::string> m_calls;
};

// Handles window events until the condition holds, a bounded number of rounds.
bool processEventsUntil(const std::function<bool()>& condition);

// Shows a window and waits (in bounded event rounds) until it is active.
bool showAndActivate(QWidget& window);

} // namespace qttest
