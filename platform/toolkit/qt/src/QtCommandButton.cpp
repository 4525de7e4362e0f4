#include "QtCommandButton.h"

#include <QKeyEvent>

namespace platform {

void QtCommandButton::keyPressEvent(QKeyEvent* event) {
    const bool enterKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enterKey && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        event->accept();
        // A held key clicks once, not once per repeat.
        if (!event->isAutoRepeat()) {
            click();
        }
        return;
    }
    QPushButton::keyPressEvent(event);
}

} // namespace platform
