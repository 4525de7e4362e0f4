#include "run/RunDisplay.h"

#include "WindowTexts.h"

namespace updater {

using platform::MousePointer;

RunDisplay::RunDisplay(platform::Toolkit& toolkit, platform::UpdaterControls& controls)
    : m_toolkit(toolkit), m_controls(controls) {}

void RunDisplay::busy() {
    m_toolkit.setMousePointer(MousePointer::busy);
}

void RunDisplay::downloading() {
    auto& bar = m_controls.ProgressBar1();
    bar.setValue(0);
    bar.setVisible(true);
    say(texts::downloading);
}

void RunDisplay::extracting() {
    m_controls.ProgressBar1().setVisible(false);
    m_toolkit.setMousePointer(MousePointer::normal);
    say(texts::extracting);
}

void RunDisplay::processing() {
    say(texts::processing);
}

void RunDisplay::succeeded() {
    say(texts::success);
}

void RunDisplay::notCompleted() {
    m_controls.lblMessage().setCaption(texts::notCompleted);
}

void RunDisplay::say(const char* text) {
    m_controls.lblMessage().setCaption(text);
    m_toolkit.doEvents();
}

} // namespace updater
