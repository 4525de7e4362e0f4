#pragma once

#include "platform/toolkit/Toolkit.h"

namespace updater {

// What the window shows of a run as it goes from stage to stage: the status
// line, the progress bar and the mouse pointer, the window's events handled
// once after each status text so that it shows.
class RunDisplay {
public:
    RunDisplay(platform::Toolkit& toolkit, platform::UpdaterControls& controls);

    void busy();
    // The bar at 0 and shown, "Downloading...".
    void downloading();
    // The bar hidden, the pointer back, "Extracting Files".
    void extracting();
    void processing();
    void succeeded();
    // After a run that stopped once the user had said Yes.
    void notCompleted();

private:
    void say(const char* text);

    platform::Toolkit& m_toolkit;
    platform::UpdaterControls& m_controls;
};

} // namespace updater
