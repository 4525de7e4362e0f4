#include "codemodule/LibraryBoundary.h"

#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"

namespace CodeModule {

std::string libraryPath(const std::string& name) {
    return libraryFolder() + "/lib" + name + ".so";
}

std::unique_ptr<platform::DynamicLibrary> loadLibrary(const std::string& name,
                                                      const std::string& source) {
    return platform::withOwnSource(source, [&] {
        return std::make_unique<platform::DynamicLibrary>(libraryPath(name), source);
    });
}

std::unique_ptr<platform::DynamicLibrary> tryLoadLibrary(const std::string& name) {
    try {
        return platform::DynamicLibrary::tryLoad(libraryPath(name));
    } catch (const platform::Error&) {
        return nullptr;
    }
}

const char* libraryCopy(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

std::string libraryText(const char* bytes, std::size_t maxBytes) {
    std::string text;
    if (bytes == nullptr) {
        return text;
    }
    for (std::size_t i = 0; i < maxBytes && bytes[i] != '\0'; ++i) {
        text.push_back(bytes[i]);
    }
    return text;
}

NameList::NameList(const std::vector<std::string>& names, const std::string& source)
    : m_names(names) {
    if (m_names.size() > slotCount) {
        platform::raiseError(platform::ErrorNumber::subscriptOutOfRange, source,
                             std::to_string(m_names.size()) + " names for " +
                                 std::to_string(slotCount) + " slots");
    }
    for (std::size_t i = 0; i < m_names.size(); ++i) {
        m_slots[i] = m_names[i].c_str();
    }
}

} // namespace CodeModule
