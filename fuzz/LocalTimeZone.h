#pragma once

#include <cstdlib>

// While TZ is unset, glibc looks at the time zone file again on every
// mktime, and libzip converts each entry's time with it: naming that same
// file in TZ keeps the machine's zone and has it read once. A TZ already set
// stays as it is.
inline void readLocalTimeZoneOnce() {
    setenv("TZ", ":/etc/localtime", 0);
}
