#include "platform/qt/QtControls.h"

#include "platform/Error.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace platform {

void QtLabel::setCaption(const std::string& text) {
    m_label.setText(QString::fromStdString(text));
}

std::string QtLabel::caption() const {
    return m_label.text().toStdString();
}

void QtButton::setEnabled(bool enabled) {
    m_button.setEnabled(enabled);
}

bool QtButton::isEnabled() const {
    return m_button.isEnabled();
}

QtProgressBar::QtProgressBar(QProgressBar& bar) : m_bar(bar) {
    // A fresh bar starts at its minimum, not in Qt's "no value" state.
    m_bar.setValue(m_bar.minimum());
    m_value = static_cast<float>(m_bar.minimum());
}

void QtProgressBar::setValue(float value) {
    // The download sets the bar after every chunk, mostly to the value it
    // already has: that costs one comparison.
    if (value == m_value) {
        return;
    }
    // Written so that NaN fails the test too.
    if (!(value >= static_cast<float>(m_bar.minimum()) &&
          value <= static_cast<float>(m_bar.maximum()))) {
        raiseError(ErrorNumber::invalidPropertyValue, "ProgressBar1");
    }
    m_value = value;
    m_bar.setValue(static_cast<int>(std::lround(value)));
}

void QtProgressBar::setVisible(bool visible) {
    m_visible = visible;
    m_bar.setVisible(visible);
}

} // namespace platform
