#include "QtTestSupport.h"

#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace qttest {

namespace {

// The offscreen platform warns about every window it cannot size from hints;
// that says nothing about the program, so it is left out of the test output.
QtMessageHandler standardHandler = nullptr;

void quietMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QStringLiteral("does not support propagateSizeHints"))) {
        return;
    }
    standardHandler(type, context, text);
}

// One application object for the whole test program.
class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        standardHandler = qInstallMessageHandler(quietMessageHandler);
        static int argc = 1;
        static char name[] = "qt_tests";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_application.reset(); }

private:
    std::unique_ptr<QApplication> m_application;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

constexpr int maxRounds = 200;

} // namespace

int RecordingEvents::count(const std::string& handler) const {
    return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), handler));
}

bool processEventsUntil(const std::function<bool()>& condition) {
    for (int round = 0; round < maxRounds && !condition(); ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return condition();
}

bool showAndActivate(QWidget& window) {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

} // namespace qttest
