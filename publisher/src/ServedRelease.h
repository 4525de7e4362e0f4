#pragma once

#include "publisher/Publication.h"
#include "signature/SignatureLine.h"

#include <optional>
#include <ostream>
#include <string>

namespace publisher {

// A new publication against what the served folder serves now, if anything:
// a version older than the served answer names is refused (PublishError),
// since installations that have the newer one would not be offered it and
// those that have not updated yet would install it in the newer one's place,
// unless the request's replaceNewer says it is meant. An answer signed by
// another key than key, or signed when this publication is not (key empty),
// is refused too, since every updater built with the served key refuses the
// new release and reports the server unreachable, unless the request's
// replaceKey says it is meant (the key rotation); it is then noted on report
// with what keyed updaters will do.
void checkAgainstServed(const std::string& servedFolder, const PublishRequest& request,
                        const std::optional<signature::PublicKey>& key, std::ostream& report);

} // namespace publisher
