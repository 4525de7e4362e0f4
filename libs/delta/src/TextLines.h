#pragma once

// The one shape of the texts a package carries beside its files (the
// manifest, the chunk map): a first line that names the format, then lines
// each ended by LF.

#include <functional>
#include <string>
#include <string_view>

namespace delta {

// Hands each line after firstLine, without its LF, to take, which returns
// why it refuses the line (empty: taken). False, with why naming the line,
// when the text does not begin with firstLine and LF, a line has no LF, or
// take refuses one.
inline bool readLines(std::string_view text, std::string_view firstLine,
                      const std::function<std::string(std::string_view line)>& take,
                      std::string& why) {
    if (!text.starts_with(firstLine) || text.substr(firstLine.size()).substr(0, 1) != "\n") {
        why = "it does not begin with the line \"" + std::string(firstLine) + "\"";
        return false;
    }
    std::size_t lineNumber = 1;
    for (std::size_t at = firstLine.size() + 1; at < text.size();) {
        ++lineNumber;
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            why = "line " + std::to_string(lineNumber) + " does not end with a line feed";
            return false;
        }
        if (std::string lineWhy = take(text.substr(at, end - at)); !lineWhy.empty()) {
            why = "line " + std::to_string(lineNumber) + ": " + lineWhy;
            return false;
        }
        at = end + 1;
    }
    return true;
}

} // namespace delta
