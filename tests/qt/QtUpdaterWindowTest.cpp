#include "platform/qt/QtUpdaterWindow.h"
#include "QtTestSupport.h"
#include "platform/Error.h"
#include "testsupport/TempDir.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using platform::QtUpdaterWindow;
using qttest::RecordingEvents;

namespace {

const std::vector<std::string> controlNames = {"cmdCancel", "ProgressBar1", "cmdDownload",
                                               "Label2",    "Label1",       "lblMessage"};

class UpdaterWindowTest : public ::testing::Test {
protected:
    UpdaterWindowTest() { window.attach(events); }

    template <typename T = QWidget> T* control(const std::string& name) {
        auto* widget = window.findChild<T*>(QString::fromStdString(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // What the load handler does before the window is first shown.
    void showAsAtStart() {
        window.ProgressBar1().setVisible(false);
        ASSERT_TRUE(qttest::showAndActivate(window));
        ASSERT_TRUE(qttest::processEventsUntil([&] { return events.count("Form_Activate") == 1; }));
        events.clear();
    }

    RecordingEvents events;
    QtUpdaterWindow window;
};

} // namespace

TEST_F(UpdaterWindowTest, ControlsSitWhereTheLayoutPutsThemInStackingOrder) {
    struct Case {
        std::string name;
        QRect pixels;
    };
    const std::vector<Case> cases = {
        {"cmdCancel", {6, 190, 177, 47}},     {"ProgressBar1", {8, 104, 497, 25}},
        {"cmdDownload", {328, 190, 177, 47}}, {"Label2", {-2, 248, 509, 23}},
        {"Label1", {4, 6, 499, 27}},          {"lblMessage", {6, 158, 499, 27}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(control(c.name)->geometry(), c.pixels) << c.name;
    }

    std::vector<std::string> stacking;
    for (QObject* child : window.children()) {
        if (child->isWidgetType()) {
            stacking.push_back(child->objectName().toStdString());
        }
    }
    EXPECT_EQ(stacking, controlNames);
}

TEST_F(UpdaterWindowTest, WindowHasFixedClientSizeTitleAndIcon) {
    EXPECT_EQ(window.size(), QSize(510, 271));
    EXPECT_EQ(window.minimumSize(), QSize(510, 271));
    EXPECT_EQ(window.maximumSize(), QSize(510, 271));
    window.resize(700, 400);
    EXPECT_EQ(window.size(), QSize(510, 271));
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);

    EXPECT_EQ(window.windowTitle(), QStringLiteral("Morvane Updater"));
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(32, 32)));
    const QImage icon = window.windowIcon().pixmap(32, 32).toImage();
    ASSERT_EQ(icon.size(), QSize(32, 32));
    int drawn = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            drawn += qAlpha(icon.pixel(x, y)) > 0 ? 1 : 0;
        }
    }
    EXPECT_GT(drawn, 100);
    const std::string enlarged = testsupport::artifactFolder() + "/updater-icon.png";
    EXPECT_TRUE(icon.scaled(128, 128).save(QString::fromStdString(enlarged), "PNG"));
}

TEST_F(UpdaterWindowTest, TextsAreTheWindowsOwn) {
    EXPECT_EQ(control<QPushButton>("cmdCancel")->text(), QStringLiteral("&Exit"));
    EXPECT_EQ(control<QPushButton>("cmdDownload")->text(), QStringLiteral("Check for update"));
    EXPECT_EQ(control<QLabel>("Label1")->text(), QStringLiteral("Morvane Updater"));
    EXPECT_EQ(control<QLabel>("lblMessage")->text(), QString());
    EXPECT_EQ(window.lblMessage().caption(), "");

    // The contact line names the publisher on one line that fits its label.
    auto* contact = control<QLabel>("Label2");
    EXPECT_TRUE(contact->text().contains(QStringLiteral("Morvane")));
    EXPECT_FALSE(contact->text().contains(QLatin1Char('\n')));
    EXPECT_LE(QFontMetrics(contact->font()).horizontalAdvance(contact->text()), contact->width());

    // Status texts are never taken for markup.
    window.lblMessage().setCaption("<b>Downloading...</b>");
    EXPECT_EQ(window.lblMessage().caption(), "<b>Downloading...</b>");
    EXPECT_EQ(control<QLabel>("lblMessage")->textFormat(), Qt::PlainText);
}

TEST_F(UpdaterWindowTest, FontsAreArialInTheirSizesAndWeights) {
    struct Case {
        std::string name;
        double points;
        QFont::Weight weight;
    };
    const std::vector<Case> cases = {
        {"cmdCancel", 15.75, QFont::Normal}, {"cmdDownload", 15.75, QFont::Normal},
        {"Label1", 12, QFont::Normal},       {"lblMessage", 12, QFont::Normal},
        {"Label2", 12, QFont::Bold},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QFont font = control(c.name)->font();
        EXPECT_EQ(font.family(), QStringLiteral("Arial"));
        EXPECT_DOUBLE_EQ(font.pointSizeF(), c.points);
        EXPECT_EQ(font.weight(), c.weight);
        EXPECT_FALSE(font.italic());
        EXPECT_FALSE(font.underline());
        // Arial itself or its metric twin, so that the texts fit as laid out.
        const QString resolved = QFontInfo(font).family();
        EXPECT_TRUE(resolved == QStringLiteral("Arial") ||
                    resolved == QStringLiteral("Liberation Sans"))
            << resolved.toStdString();
    }
}

TEST_F(UpdaterWindowTest, BackgroundShowsThroughCentredLabels) {
    const QColor background(217, 222, 236);
    EXPECT_EQ(window.palette().color(QPalette::Window), background);
    EXPECT_TRUE(window.autoFillBackground());

    const QImage picture = window.grab().toImage();
    for (const std::string name : {"Label1", "lblMessage", "Label2"}) {
        SCOPED_TRACE(name);
        auto* label = control<QLabel>(name);
        EXPECT_FALSE(label->autoFillBackground());
        EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        // A corner of the label, where no text is drawn, shows the window.
        const QPoint corner = label->geometry().bottomRight() - QPoint(1, 1);
        EXPECT_EQ(picture.pixelColor(corner), background);
    }
}

TEST_F(UpdaterWindowTest, TabMovesFromCheckForUpdateToExitAndOnlyButtonsTakeFocus) {
    for (const auto& name : controlNames) {
        const bool isButton = name == "cmdCancel" || name == "cmdDownload";
        EXPECT_EQ(bool(control(name)->focusPolicy() & Qt::TabFocus), isButton) << name;
    }

    showAsAtStart();
    EXPECT_EQ(QApplication::focusWidget(), control("cmdDownload"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), control("cmdCancel"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), control("cmdDownload"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), control("cmdCancel"));
}

TEST_F(UpdaterWindowTest, KeysAndClicksReachTheButtonHandlers) {
    struct Case {
        std::string button;
        Qt::Key key; // Qt::Key_unknown: a mouse click
        std::string handler;
    };
    const std::vector<Case> cases = {
        {"cmdDownload", Qt::Key_Space, "cmdDownload_Click"},
        {"cmdDownload", Qt::Key_Return, "cmdDownload_Click"},
        {"cmdDownload", Qt::Key_Enter, "cmdDownload_Click"},
        {"cmdDownload", Qt::Key_unknown, "cmdDownload_Click"},
        {"cmdCancel", Qt::Key_Space, "cmdCancel_Click"},
        {"cmdCancel", Qt::Key_Return, "cmdCancel_Click"},
        {"cmdCancel", Qt::Key_Enter, "cmdCancel_Click"},
        {"cmdCancel", Qt::Key_unknown, "cmdCancel_Click"},
    };
    showAsAtStart();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button + " key " + std::to_string(c.key));
        events.clear();
        auto* button = control(c.button);
        button->setFocus();
        if (c.key == Qt::Key_unknown) {
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            QTest::keyClick(button, c.key);
        }
        EXPECT_EQ(events.calls(), std::vector<std::string>{c.handler});
    }
}

TEST_F(UpdaterWindowTest, AltEClicksExitFromAnywhereInTheWindow) {
    showAsAtStart();
    QTest::keyClick(control("cmdDownload"), Qt::Key_E, Qt::AltModifier);
    // An access key presses the button and lets it go a moment later.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !events.calls().empty(); }));
    EXPECT_EQ(events.calls(), std::vector<std::string>{"cmdCancel_Click"});
}

TEST_F(UpdaterWindowTest, EscapeIsBoundToNothing) {
    showAsAtStart();
    for (const std::string name : {"cmdCancel", "cmdDownload"}) {
        control(name)->setFocus();
        QTest::keyClick(control(name), Qt::Key_Escape);
    }
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(events.count("cmdCancel_Click"), 0);
    EXPECT_EQ(events.count("cmdDownload_Click"), 0);
    EXPECT_EQ(events.count("Form_Close"), 0);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(UpdaterWindowTest, AtFirstDisplayOnlyTitleButtonsAndContactLineShow) {
    showAsAtStart();
    std::vector<std::string> showing;
    for (const auto& name : controlNames) {
        auto* widget = control(name);
        auto* label = qobject_cast<QLabel*>(widget);
        if (widget->isVisible() && (label == nullptr || !label->text().isEmpty())) {
            showing.push_back(name);
        }
    }
    EXPECT_EQ(showing, (std::vector<std::string>{"cmdCancel", "cmdDownload", "Label2", "Label1"}));
    EXPECT_FALSE(window.ProgressBar1().isVisible());
    EXPECT_TRUE(window.cmdDownload().isEnabled());
    EXPECT_TRUE(window.cmdCancel().isEnabled());

    const std::string screenshot = testsupport::artifactFolder() + "/updater-window.png";
    EXPECT_TRUE(window.grab().save(QString::fromStdString(screenshot), "PNG"));
}

TEST_F(UpdaterWindowTest, ProgressBarRefusesValuesOutsideItsRange) {
    auto& bar = window.ProgressBar1();
    auto* widget = control<QProgressBar>("ProgressBar1");
    EXPECT_EQ(bar.value(), 0.0f);
    bar.setValue(40);

    const float refused[] = {-1.0f,
                             -0.01f,
                             100.01f,
                             101.0f,
                             std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity()};
    for (float value : refused) {
        SCOPED_TRACE(value);
        try {
            bar.setValue(value);
            ADD_FAILURE() << "accepted";
        } catch (const platform::Error& error) {
            EXPECT_EQ(error.number(), 380);
            EXPECT_EQ(error.description(), "Invalid property value");
        }
        EXPECT_EQ(bar.value(), 40.0f);
        EXPECT_EQ(widget->value(), 40);
    }

    struct Accepted {
        float value;
        int shown;
    };
    for (const auto& a : {Accepted{0, 0}, Accepted{100, 100}, Accepted{37.6f, 38}}) {
        bar.setValue(a.value);
        EXPECT_EQ(bar.value(), a.value);
        EXPECT_EQ(widget->value(), a.shown);
    }
}

TEST_F(UpdaterWindowTest, FirstShowDeliversActivateOnceFromTheEventLoop) {
    window.show();
    // Not from inside show(): the run must start from the event loop.
    EXPECT_EQ(events.count("Form_Activate"), 0);
    ASSERT_TRUE(qttest::processEventsUntil([&] { return events.count("Form_Activate") == 1; }));

    for (int i = 0; i < 3; ++i) {
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&window, &activate);
    }
    window.hide();
    window.show();
    window.activateWindow();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(events.count("Form_Activate"), 1);
}

TEST_F(UpdaterWindowTest, CloseBoxCallsFormCloseAndKeepsTheWindow) {
    showAsAtStart();
    EXPECT_FALSE(window.close());
    EXPECT_EQ(events.count("Form_Close"), 1);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(UpdaterWindowTest, ShownInTheMiddleOfTheScreen) {
    window.ProgressBar1().setVisible(false);
    window.showCentred();
    const QPoint screenCentre = window.screen()->availableGeometry().center();
    const QPoint windowCentre = window.frameGeometry().center();
    EXPECT_LE((screenCentre - windowCentre).manhattanLength(), 40);
}

TEST(UpdaterWindowFailure, HandlerFailureIsShownInsteadOfUnwindingThroughQt) {
    struct FailingEvents : RecordingEvents {
        void cmdCancel_Click() override {
            throw platform::Error(70, "cmdCancel_Click", "Permission denied: /opt/morvane");
        }
    } events;
    QtUpdaterWindow window;
    window.attach(events);
    QString shown;
    qttest::ModalResponder<QMessageBox> responder([&](QMessageBox& box) {
        shown = box.text();
        box.button(QMessageBox::Ok)->click();
    });
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("cmdCancel")), Qt::LeftButton);
    EXPECT_EQ(shown, QStringLiteral("Permission denied: /opt/morvane"));
}
