#include "fileio/Processors.h"

#include <algorithm>
#include <sched.h>

namespace fileio {

std::size_t processorsAvailable(std::size_t most) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) {
        return 1;
    }
    return std::clamp<std::size_t>(static_cast<std::size_t>(CPU_COUNT(&set)), 1,
                                   std::max<std::size_t>(most, 1));
}

} // namespace fileio
