#pragma once

#include "signature/SignatureLine.h"

#include <optional>
#include <ostream>
#include <string>

namespace publisher {

// A new publication against what the served folder serves now, if anything:
// a version older than the served answer names is refused (PublishError),
// since installations that have the newer one would not be offered it and
// those that have not updated yet would install it in the newer one's place,
// unless replaceNewer says it is meant. An answer signed by another key than
// key (the key rotation, or a mistake), or signed when this publication is
// not (key empty), is noted on report with what keyed updaters will do.
void checkAgainstServed(const std::string& servedFolder, const std::string& version,
                        const std::optional<signature::PublicKey>& key, bool replaceNewer,
                        std::ostream& report);

} // namespace publisher
