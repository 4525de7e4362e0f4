#pragma once

#include "Reporter.h"
#include "Selection.h"

#include <string>
#include <vector>

namespace zip32 {

// Removes the files that went into the archive, then the folders (selected
// ones and those the files lay in, below root) that are left empty, deepest
// first. False when anything that should have gone is still there.
bool removeMovedSources(const std::vector<SelectedItem>& stored, const std::string& root,
                        const Reporter& reporter);

} // namespace zip32
