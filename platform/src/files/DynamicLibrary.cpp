#include "platform/files/DynamicLibrary.h"

#include "platform/Error.h"

#include <dlfcn.h>
#include <sys/stat.h>

namespace platform {

namespace {

std::string loaderReason() {
    const char* reason = dlerror();
    return reason != nullptr ? reason : "no reason given";
}

} // namespace

DynamicLibrary::DynamicLibrary(const std::string& path, const std::string& source)
    : m_path(path), m_source(source) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        raiseError(ErrorNumber::fileNotFound, source, path);
    }
    // A path with a "/" is loaded as it stands; the search path is not used.
    // Once loaded, a library stays in the process: what it set up for
    // itself (its worker threads' one-time data, its caches) would otherwise
    // be cut off and lost at every unload, once per call.
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (m_handle == nullptr) {
        raiseError(ErrorNumber::dllLoad, source, path + " (" + loaderReason() + ")");
    }
}

DynamicLibrary::~DynamicLibrary() {
    if (m_handle != nullptr) {
        dlclose(m_handle);
    }
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::tryLoad(const std::string& path) {
    try {
        return std::make_unique<DynamicLibrary>(path, std::string());
    } catch (const Error&) {
        return nullptr;
    }
}

void* DynamicLibrary::tryEntryPoint(const std::string& name) const noexcept {
    dlerror();
    return dlsym(m_handle, name.c_str());
}

void* DynamicLibrary::entryPoint(const std::string& name) const {
    void* address = tryEntryPoint(name);
    if (address == nullptr) {
        raiseError(ErrorNumber::dllEntryPoint, m_source,
                   name + " in " + m_path + " (" + loaderReason() + ")");
    }
    return address;
}

} // namespace platform
