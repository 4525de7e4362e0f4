#pragma once

#include <ostream>
#include <string>

namespace publisher {

// A dry run of an update from one published package to the next; nothing
// is written. Reports on report how many bytes a user who has the release of
// oldPackage installed fetches of newPackage once updates fetch only the
// entries an installation lacks (the old manifest's files taken as what is
// installed), against newPackage's whole size, and which files those are;
// or, when newPackage carries no manifest, that every user downloads it
// whole. PublishError when a package cannot be read, oldPackage carries no
// manifest, or a manifest does not describe its package.
void compare(const std::string& oldPackage, const std::string& newPackage, std::ostream& report);

} // namespace publisher
