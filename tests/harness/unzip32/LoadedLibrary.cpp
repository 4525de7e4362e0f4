// The library as the program meets it: libunzip32.so loaded with dlopen.
#include "unzip32test/UnzipHarness.h"

#include <dlfcn.h>
#include <stdexcept>

namespace unzip32test {

const UnzipApi& unzipApi() {
    static const UnzipApi api = [] {
        void* library = dlopen(UNZIP32_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            throw std::runtime_error(dlerror());
        }
        UnzipApi loaded{};
        loaded.version = reinterpret_cast<decltype(loaded.version)>(dlsym(library, "UzpVersion2"));
        loaded.unzip =
            reinterpret_cast<decltype(loaded.unzip)>(dlsym(library, "Wiz_SingleEntryUnzip"));
        if (loaded.version == nullptr || loaded.unzip == nullptr) {
            throw std::runtime_error("an entry point is missing");
        }
        return loaded;
    }();
    return api;
}

} // namespace unzip32test
