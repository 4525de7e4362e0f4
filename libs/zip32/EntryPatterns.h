#pragma once

#include <zip.h>

#include <string>
#include <vector>

namespace zip32 {

// The entries of an archive that names select for deletion. A name is an
// entry name or pattern ("\" read as "/"); an absolute name below root is
// taken relative to it. It matches an entry under the case rule with or
// without the folder entry's trailing "/"; with recurse, a folder's name also
// matches everything stored below it. Each name that matches nothing is
// returned in unmatched.
std::vector<zip_uint64_t> entriesToDelete(zip_t* archive, const std::vector<std::string>& names,
                                          const std::string& root, bool recurse,
                                          std::vector<std::string>& unmatched);

} // namespace zip32
