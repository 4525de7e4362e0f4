#pragma once

#include <string>

// A version the updater compares as it is meant: three decimal numbers
// separated by ".", such as 2.1.7. The updater compares the first with the
// installed file version's first part, the second with its second and the
// third with its fourth.
bool isVersionText(const std::string& version);
