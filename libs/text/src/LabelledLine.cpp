#include "text/LabelledLine.h"

namespace text {

std::string labelledLine(std::string_view label, std::string_view name, std::string_view problem) {
    std::string line(label);
    if (!name.empty()) {
        line.append(name).append(": ");
    }
    line.append(problem);
    return line;
}

} // namespace text
