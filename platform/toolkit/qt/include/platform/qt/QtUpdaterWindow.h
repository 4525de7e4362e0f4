#pragma once

#include "platform/qt/QtControls.h"
#include "platform/toolkit/Toolkit.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace platform {

// The updater window: title, progress bar, status line, "&Exit" and
// "Check for update", and the contact line, at fixed positions in a window
// that cannot be resized. Its events go to the attached handlers.
class QtUpdaterWindow : public QWidget, public UpdaterControls {
    Q_OBJECT

public:
    explicit QtUpdaterWindow(QWidget* parent = nullptr);

    // The handlers that receive clicks, the first activation and the close box.
    void attach(FormEvents& events) { m_events = &events; }
    // Shows the window in the middle of its screen.
    void showCentred();

    Label& lblMessage() override { return m_lblMessageControl; }
    Button& cmdDownload() override { return m_cmdDownloadControl; }
    Button& cmdCancel() override { return m_cmdCancelControl; }
    ProgressBar& ProgressBar1() override { return m_progressBar1Control; }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void queueActivation();
    void deliver(void (FormEvents::*handler)());

    FormEvents* m_events = nullptr;
    bool m_activationQueued = false;

    // Created in this order, so each one lies above the ones before it.
    QPushButton* m_cmdCancel;
    QProgressBar* m_progressBar1;
    QPushButton* m_cmdDownload;
    QLabel* m_label2;
    QLabel* m_label1;
    QLabel* m_lblMessage;

    QtLabel m_lblMessageControl;
    QtButton m_cmdDownloadControl;
    QtButton m_cmdCancelControl;
    QtProgressBar m_progressBar1Control;
};

} // namespace platform
