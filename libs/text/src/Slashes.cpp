#include "text/Slashes.h"

#include <algorithm>

namespace text {

std::string withForwardSlashes(std::string_view path) {
    std::string result(path);
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

} // namespace text
