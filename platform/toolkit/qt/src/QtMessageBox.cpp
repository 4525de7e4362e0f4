#include "QtMessageBox.h"

#include "platform/toolkit/Toolkit.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace platform {

namespace {

constexpr int buttonsMask = 0x7;
constexpr int iconMask = 0x70;
constexpr int defaultButtonMask = 0x300;
constexpr int defaultButtonStep = 0x100;

struct ButtonChoice {
    QMessageBox::StandardButton button;
    int answer;
};

// The buttons of a style, left to right.
std::vector<ButtonChoice> buttonsFor(int style) {
    switch (style & buttonsMask) {
    case MsgBoxStyle::okCancel:
        return {{QMessageBox::Ok, MsgBoxAnswer::ok}, {QMessageBox::Cancel, MsgBoxAnswer::cancel}};
    case MsgBoxStyle::yesNoCancel:
        return {{QMessageBox::Yes, MsgBoxAnswer::yes},
                {QMessageBox::No, MsgBoxAnswer::no},
                {QMessageBox::Cancel, MsgBoxAnswer::cancel}};
    case MsgBoxStyle::yesNo:
        return {{QMessageBox::Yes, MsgBoxAnswer::yes}, {QMessageBox::No, MsgBoxAnswer::no}};
    default:
        return {{QMessageBox::Ok, MsgBoxAnswer::ok}};
    }
}

QMessageBox::Icon iconFor(int style) {
    switch (style & iconMask) {
    case MsgBoxStyle::critical:
        return QMessageBox::Critical;
    case MsgBoxStyle::question:
        return QMessageBox::Question;
    case MsgBoxStyle::exclamation:
        return QMessageBox::Warning;
    case MsgBoxStyle::information:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// Cancel if present, else No, else OK: the button a refusal means.
QMessageBox::StandardButton escapeFor(const std::vector<ButtonChoice>& choices) {
    for (auto preferred : {QMessageBox::Cancel, QMessageBox::No}) {
        for (const auto& choice : choices) {
            if (choice.button == preferred) {
                return preferred;
            }
        }
    }
    return choices.front().button;
}

int answerFor(const std::vector<ButtonChoice>& choices, QMessageBox::StandardButton button) {
    for (const auto& choice : choices) {
        if (choice.button == button) {
            return choice.answer;
        }
    }
    return MsgBoxAnswer::ok;
}

} // namespace

int showMessageBox(QWidget* parent, const QString& title, const QString& prompt, int style) {
    const std::vector<ButtonChoice> choices = buttonsFor(style);

    QMessageBox box(parent);
    box.setWindowTitle(title);
    // Prompts carry file names and server texts; never interpret them as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(prompt);
    box.setIcon(iconFor(style));
    for (const auto& choice : choices) {
        box.addButton(choice.button);
    }
    const auto defaultIndex =
        static_cast<std::size_t>((style & defaultButtonMask) / defaultButtonStep);
    box.setDefaultButton(choices[defaultIndex < choices.size() ? defaultIndex : 0].button);
    box.setEscapeButton(box.button(escapeFor(choices)));
    box.exec();

    QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    if (pressed == QMessageBox::NoButton) {
        // Closed without any button: count it as a refusal.
        pressed = escapeFor(choices);
    }
    return answerFor(choices, pressed);
}

} // namespace platform
