#pragma once

// The one shape of a message line about something named, as both zip
// libraries report a warning or an error: the label, then the name and ": "
// when there is a name, then the problem.

#include <string>
#include <string_view>

namespace text {

std::string labelledLine(std::string_view label, std::string_view name, std::string_view problem);

} // namespace text
