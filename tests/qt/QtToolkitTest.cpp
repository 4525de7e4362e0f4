#include "platform/qt/QtToolkit.h"
#include "QtTestSupport.h"
#include "fileio/BufferedFile.h"
#include "fileio/Writing.h"
#include "testsupport/TempDir.h"

#include <QAbstractButton>
#include <QInputDialog>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <vector>

using platform::MsgBoxAnswer;
using platform::QtToolkit;
using qttest::ModalResponder;

namespace {

struct BoxButton {
    QMessageBox::StandardButton button;
    int answer;
};

struct BoxStyleCase {
    int style;
    std::vector<BoxButton> buttons; // left to right
    QMessageBox::Icon icon;
    int escapeAnswer;
};

const BoxButton ok{QMessageBox::Ok, MsgBoxAnswer::ok};
const BoxButton cancel{QMessageBox::Cancel, MsgBoxAnswer::cancel};
const BoxButton yes{QMessageBox::Yes, MsgBoxAnswer::yes};
const BoxButton no{QMessageBox::No, MsgBoxAnswer::no};

const std::vector<BoxStyleCase> boxStyleCases = {
    {0, {ok}, QMessageBox::NoIcon, MsgBoxAnswer::ok},
    {16, {ok}, QMessageBox::Critical, MsgBoxAnswer::ok},
    {52, {yes, no}, QMessageBox::Warning, MsgBoxAnswer::no},
    {64, {ok}, QMessageBox::Information, MsgBoxAnswer::ok},
    {68, {yes, no}, QMessageBox::Information, MsgBoxAnswer::no},
    {1 + 32, {ok, cancel}, QMessageBox::Question, MsgBoxAnswer::cancel},
    {3 + 48, {yes, no, cancel}, QMessageBox::Warning, MsgBoxAnswer::cancel},
};

QMessageBox::StandardButtons buttonSet(const std::vector<BoxButton>& buttons) {
    QMessageBox::StandardButtons set;
    for (const auto& b : buttons) {
        set |= b.button;
    }
    return set;
}

} // namespace

TEST(QtToolkitMessageBox, StyleGivesButtonsIconAndAnswers) {
    for (const auto& c : boxStyleCases) {
        for (const auto& pressed : c.buttons) {
            SCOPED_TRACE("style " + std::to_string(c.style) + " pressing " +
                         std::to_string(pressed.answer));
            QtToolkit toolkit;
            QMessageBox::StandardButtons shownButtons;
            QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
            ModalResponder<QMessageBox> responder([&](QMessageBox& box) {
                shownButtons = box.standardButtons();
                shownIcon = box.icon();
                box.button(pressed.button)->click();
            });
            EXPECT_EQ(toolkit.msgBox("Question?", c.style, "Title"), pressed.answer);
            EXPECT_TRUE(responder.responded());
            EXPECT_EQ(shownButtons, buttonSet(c.buttons));
            EXPECT_EQ(shownIcon, c.icon);
        }
    }
}

TEST(QtToolkitMessageBox, EscapeRefusesWithCancelOrNoOrOk) {
    for (const auto& c : boxStyleCases) {
        SCOPED_TRACE("style " + std::to_string(c.style));
        QtToolkit toolkit;
        ModalResponder<QMessageBox> responder(
            [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
        EXPECT_EQ(toolkit.msgBox("Really?", c.style, "Title"), c.escapeAnswer);
    }
}

TEST(QtToolkitMessageBox, FirstButtonIsTheDefault) {
    QtToolkit toolkit;
    ModalResponder<QMessageBox> responder(
        [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); });
    EXPECT_EQ(toolkit.msgBox("New version found, Do you want to update", 68, ""),
              MsgBoxAnswer::yes);
}

TEST(QtToolkitMessageBox, EmptyTitleMeansApplicationTitleAndTextIsPlain) {
    struct Case {
        std::string title;
        QString expected;
    };
    for (const auto& c :
         {Case{"", "Morvane Updater"}, Case{"Updater: Download", "Updater: Download"}}) {
        QtToolkit toolkit;
        toolkit.setAppTitle("Morvane Updater");
        QString shownTitle;
        QString shownText;
        Qt::TextFormat format = Qt::AutoText;
        ModalResponder<QMessageBox> responder([&](QMessageBox& box) {
            shownTitle = box.windowTitle();
            shownText = box.text();
            format = box.textFormat();
            box.button(QMessageBox::Ok)->click();
        });
        toolkit.msgBox("<b>/tmp/a&b.txt</b>", 16, c.title);
        EXPECT_EQ(shownTitle, c.expected);
        EXPECT_EQ(shownText, QStringLiteral("<b>/tmp/a&b.txt</b>"));
        EXPECT_EQ(format, Qt::PlainText);
    }
}

TEST(QtToolkitInputBox, AnswersTheTextOrEmptyOnCancel) {
    struct Case {
        bool accept;
        std::string expected;
    };
    for (const auto& c : {Case{true, "secret"}, Case{false, ""}}) {
        QtToolkit toolkit;
        toolkit.setAppTitle("Morvane Updater");
        QString shownTitle;
        QString shownPrompt;
        ModalResponder<QInputDialog> responder([&](QInputDialog& dialog) {
            shownTitle = dialog.windowTitle();
            shownPrompt = dialog.labelText();
            dialog.setTextValue(QStringLiteral("secret"));
            c.accept ? dialog.accept() : dialog.reject();
        });
        EXPECT_EQ(toolkit.inputBox("Enter password", ""), c.expected);
        EXPECT_EQ(shownTitle, QStringLiteral("Morvane Updater"));
        EXPECT_EQ(shownPrompt, QStringLiteral("Enter password"));
    }
}

TEST(QtToolkitPointer, BusyIsOneWaitCursorAndDefaultRemovesIt) {
    QtToolkit toolkit;
    toolkit.setMousePointer(11);
    toolkit.setMousePointer(11);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_EQ(toolkit.mousePointer(), 11);

    toolkit.setMousePointer(0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    toolkit.setMousePointer(0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(toolkit.mousePointer(), 0);
}

namespace {
std::string exitHandlerMarker;
}

TEST(QtToolkitEndDeathTest, EndsWithStatusZeroKeepingWrittenBytesAndRunningNothingElse) {
    testsupport::TempDir dir;
    const std::string partial = dir / "morvane.zip";
    const std::string buffered = dir / "buffered.zip";
    exitHandlerMarker = dir / "exit-handler-ran";
    EXPECT_EXIT(
        {
            std::FILE* file = std::fopen(partial.c_str(), "wb");
            std::fputs("received so far", file);
            fileio::BufferedFile package(
                fileio::openFile(buffered, O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 1 << 20);
            (void)package.write("held back", 9);
            std::atexit([] { testsupport::writeFile(exitHandlerMarker, "ran"); });
            QtToolkit().endProgram();
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(testsupport::readFile(partial), "received so far");
    EXPECT_EQ(testsupport::readFile(buffered), "held back");
    EXPECT_FALSE(testsupport::exists(exitHandlerMarker));
}
