#pragma once

#include "platform/toolkit/Toolkit.h"

#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace platform {

// The window's controls as the handlers see them, each over its Qt widget.

class QtLabel : public Label {
public:
    explicit QtLabel(QLabel& label) : m_label(label) {}
    void setCaption(const std::string& text) override;
    std::string caption() const override;

private:
    QLabel& m_label;
};

class QtButton : public Button {
public:
    explicit QtButton(QPushButton& button) : m_button(button) {}
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;

private:
    QPushButton& m_button;
};

// Keeps the value as set (the widget only shows whole percents) and the
// visible flag as set, whether or not the window is on screen yet.
class QtProgressBar : public ProgressBar {
public:
    explicit QtProgressBar(QProgressBar& bar);
    // Outside 0 to 100 (or not a number) raises 380; the bar stays as it was.
    void setValue(float value) override;
    float value() const override { return m_value; }
    void setVisible(bool visible) override;
    bool isVisible() const override { return m_visible; }

private:
    QProgressBar& m_bar;
    float m_value = 0;
    bool m_visible = true;
};

} // namespace platform
