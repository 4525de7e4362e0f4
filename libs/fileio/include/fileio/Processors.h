#pragma once

#include <cstddef>

namespace fileio {

// How many processors this process may run on (its affinity, which a
// container or `taskset` narrows), between 1 and most: the threads worth
// starting for work that spreads over them.
std::size_t processorsAvailable(std::size_t most);

} // namespace fileio
