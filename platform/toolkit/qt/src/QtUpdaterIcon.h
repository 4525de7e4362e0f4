#pragma once

#include <QIcon>

namespace platform {

// The updater's 32 by 32 window icon: a box under a circular arrow.
QIcon makeUpdaterIcon();

} // namespace platform
