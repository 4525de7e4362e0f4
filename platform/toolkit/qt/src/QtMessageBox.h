#pragma once

#include <QString>

class QWidget;

namespace platform {

// Shows a modal message box for a numeric style (buttons + icon + default
// button) and answers the button pressed (1 OK, 2 Cancel, 6 Yes, 7 No).
//
// Buttons (style & 7): 0 OK, 1 OK/Cancel, 3 Yes/No/Cancel, 4 Yes/No; other
// values show OK. Icon (style & 0x70): 16 critical, 32 question,
// 48 warning, 64 information; other values show none. Default button
// (style & 0x300): 0 first, 256 second, 512 third, when there is one.
// Escape or the close box answers Cancel where the box has it, otherwise No
// where it has that, otherwise OK. The prompt is shown as plain text.
int showMessageBox(QWidget* parent, const QString& title, const QString& prompt, int style);

} // namespace platform
