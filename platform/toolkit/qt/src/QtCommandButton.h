#pragma once

#include <QPushButton>

namespace platform {

// A push button that Enter or Return clicks while it has the focus, as Space
// does, without being a default button of its window.
class QtCommandButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace platform
