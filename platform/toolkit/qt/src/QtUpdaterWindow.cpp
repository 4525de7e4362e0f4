#include "platform/qt/QtUpdaterWindow.h"

#include "QtCommandButton.h"
#include "QtMessageBox.h"
#include "QtUpdaterIcon.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <cmath>
#include <exception>

namespace platform {

namespace {

// The layout is given in twips; 15 of them make one pixel.
constexpr double twipsPerPixel = 15.0;

int pixels(int twips) {
    return static_cast<int>(std::lround(twips / twipsPerPixel));
}

struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};

QRect toPixels(const TwipsRect& rect) {
    return QRect(pixels(rect.left), pixels(rect.top), pixels(rect.width), pixels(rect.height));
}

constexpr int clientWidthTwips = 7650;
constexpr int clientHeightTwips = 4065;
constexpr TwipsRect cmdCancelRect{90, 2850, 2655, 705};
constexpr TwipsRect progressBar1Rect{120, 1560, 7455, 375};
constexpr TwipsRect cmdDownloadRect{4920, 2850, 2655, 705};
constexpr TwipsRect label2Rect{-30, 3720, 7635, 345};
constexpr TwipsRect label1Rect{60, 90, 7485, 405};
constexpr TwipsRect lblMessageRect{90, 2370, 7485, 405};

constexpr double buttonPoints = 15.75;
constexpr double labelPoints = 12;

const QColor background(217, 222, 236);

QFont arial(double points, QFont::Weight weight) {
    // Where Arial is missing, fontconfig puts its metric twin in its place.
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setWeight(weight);
    font.setItalic(false);
    font.setUnderline(false);
    return font;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text,
                        const TwipsRect& rect) {
    auto* button = new QtCommandButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(toPixels(rect));
    button->setFont(arial(buttonPoints, QFont::Normal));
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const TwipsRect& rect,
                  QFont::Weight weight) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(toPixels(rect));
    label->setFont(arial(labelPoints, weight));
    // Status texts are shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // Transparent: the window's colour shows behind the text.
    label->setAutoFillBackground(false);
    label->setText(text);
    return label;
}

QProgressBar* makeProgressBar(QWidget* parent, const char* name, const TwipsRect& rect) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setGeometry(toPixels(rect));
    bar->setRange(0, 100);
    bar->setTextVisible(false);
    return bar;
}

} // namespace

QtUpdaterWindow::QtUpdaterWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_cmdCancel(makeButton(this, "cmdCancel", QStringLiteral("&Exit"), cmdCancelRect)),
      m_progressBar1(makeProgressBar(this, "ProgressBar1", progressBar1Rect)),
      m_cmdDownload(
          makeButton(this, "cmdDownload", QStringLiteral("Check for update"), cmdDownloadRect)),
      m_label2(makeLabel(this, "Label2",
                         QStringLiteral("Morvane Software \u00b7 support@morvane.example"),
                         label2Rect, QFont::Bold)),
      m_label1(
          makeLabel(this, "Label1", QStringLiteral("Morvane Updater"), label1Rect, QFont::Normal)),
      m_lblMessage(makeLabel(this, "lblMessage", QString(), lblMessageRect, QFont::Normal)),
      m_lblMessageControl(*m_lblMessage), m_cmdDownloadControl(*m_cmdDownload),
      m_cmdCancelControl(*m_cmdCancel), m_progressBar1Control(*m_progressBar1) {
    setObjectName(QStringLiteral("frmUpdater"));
    setWindowTitle(QStringLiteral("Morvane Updater"));
    setWindowIcon(makeUpdaterIcon());
    setFixedSize(pixels(clientWidthTwips), pixels(clientHeightTwips));

    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, background);
    setPalette(windowPalette);
    setAutoFillBackground(true);

    // The contact line is drawn in the button-text colour.
    QPalette contactPalette = m_label2->palette();
    contactPalette.setColor(QPalette::WindowText, contactPalette.color(QPalette::ButtonText));
    m_label2->setPalette(contactPalette);

    // Tab index order is cmdDownload, ProgressBar1, lblMessage, Label1,
    // cmdCancel, Label2; the bar and the labels never take the focus, so the
    // buttons alone make the chain.
    setTabOrder(m_cmdDownload, m_cmdCancel);
    m_cmdDownload->setFocus();

    connect(m_cmdDownload, &QPushButton::clicked, this,
            [this] { deliver(&FormEvents::cmdDownload_Click); });
    connect(m_cmdCancel, &QPushButton::clicked, this,
            [this] { deliver(&FormEvents::cmdCancel_Click); });
}

void QtUpdaterWindow::showCentred() {
    const QRect available = screen()->availableGeometry();
    move(available.center() - rect().center());
    show();
}

bool QtUpdaterWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        queueActivation();
    }
    return QWidget::event(event);
}

void QtUpdaterWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Without a window manager the window may never become active, so being
    // shown is enough to start.
    queueActivation();
}

void QtUpdaterWindow::closeEvent(QCloseEvent* event) {
    // The window only goes away when the handler ends the program.
    event->ignore();
    deliver(&FormEvents::Form_Close);
}

void QtUpdaterWindow::queueActivation() {
    if (m_activationQueued) {
        return;
    }
    m_activationQueued = true;
    // Queued, so the update run starts from the event loop and not from
    // inside show().
    QTimer::singleShot(0, this, [this] { deliver(&FormEvents::Form_Activate); });
}

void QtUpdaterWindow::deliver(void (FormEvents::*handler)()) {
    if (m_events == nullptr) {
        return;
    }
    // Exceptions must not unwind through Qt's event dispatch.
    try {
        (m_events->*handler)();
    } catch (const std::exception& failure) {
        showMessageBox(this, windowTitle(), QString::fromStdString(failure.what()),
                       MsgBoxStyle::critical);
    }
}

} // namespace platform
