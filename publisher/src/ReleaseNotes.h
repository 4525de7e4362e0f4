#pragma once

#include "Release.h"

#include <ostream>

namespace publisher {

// Names on report, one note each, what the release ships that a publisher
// easily overlooks and every installation receives: hidden entries (a name
// beginning with "."; a hidden folder once, with all it holds), and, when
// the tool writes the release's updater.ini, empty folders, which it makes
// in every installation. Nothing is refused.
void noteOverlookedEntries(const Release& release, std::ostream& report);

} // namespace publisher
