#pragma once

#include <string_view>

namespace signature {

// A version the updater compares as it is meant: three decimal numbers
// separated by ".", such as 2.1.7. The updater compares the first with the
// installed file version's first part, the second with its second and the
// third with its fourth.
bool isVersionText(std::string_view version);

// Whether two versions name the same three numbers as the updater reads a
// version endpoint's answer: pieces cut at ".", each the number it begins
// with, a missing piece 0 and pieces after the third ignored. So "1.3.0"
// is the same as an answer of "1.3.0" with a line end after it.
bool sameVersion(std::string_view first, std::string_view second);

} // namespace signature
