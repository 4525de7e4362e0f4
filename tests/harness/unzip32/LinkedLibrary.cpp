// The library's code linked into the test program, so that the file-writing
// seam the test replaces is the one the library writes through.
#include "unzip32test/UnzipHarness.h"

namespace unzip32test {

const UnzipApi& unzipApi() {
    static const UnzipApi api{&UzpVersion2, &Wiz_SingleEntryUnzip};
    return api;
}

} // namespace unzip32test
