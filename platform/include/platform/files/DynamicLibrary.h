#pragma once

#include <memory>
#include <string>

namespace platform {

// A shared library loaded by its full path, never through the system's
// search path, and unloaded when the object goes away. A missing file
// raises 53, a file that cannot be loaded 48, a missing entry point 453;
// each description carries the loader's reason. The try variants report a
// failure as a null result instead, for callers that skip a failing step.
class DynamicLibrary {
public:
    DynamicLibrary(const std::string& path, const std::string& source);
    static std::unique_ptr<DynamicLibrary> tryLoad(const std::string& path);
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    void* entryPoint(const std::string& name) const;
    void* tryEntryPoint(const std::string& name) const noexcept;

    template <typename Function> Function entry(const std::string& name) const {
        return reinterpret_cast<Function>(entryPoint(name));
    }
    template <typename Function> Function tryEntry(const std::string& name) const noexcept {
        return reinterpret_cast<Function>(tryEntryPoint(name));
    }

private:
    void* m_handle = nullptr;
    std::string m_path;
    std::string m_source;
};

} // namespace platform
