#pragma once

#include "platform/files/DynamicLibrary.h"

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// What the program's two library calls share at the boundary to a zip
// library: finding and loading it, and the 8-bit texts and name lists it
// takes and hands back.
namespace CodeModule {

// <library folder>/lib<name>.so, for the library called name ("unzip32").
std::string libraryPath(const std::string& name);

// The library, loaded for one call; a missing file raises 53, one that cannot
// be loaded 48, with the given source.
std::unique_ptr<platform::DynamicLibrary> loadLibrary(const std::string& name,
                                                      const std::string& source);
// The same, or null when it cannot be loaded: for a call that skips a failing
// step.
std::unique_ptr<platform::DynamicLibrary> tryLoadLibrary(const std::string& name);

// The 8-bit copy of a text for the library: its own zero-terminated UTF-8
// bytes, valid while the text lives; an unset text is a null pointer.
const char* libraryCopy(const std::string& text);

// Text the library handed over: bytes as they come, up to the first zero
// byte and never more than maxBytes.
std::string libraryText(const char* bytes, std::size_t maxBytes);

// The name list a library takes: 100 slots of 8-bit texts; slots 0 to
// count - 1 point to copies of the names in their order, the others are
// null. More than 100 names raise the subscript error 9 with the source.
class NameList {
public:
    static constexpr std::size_t slotCount = 100;

    NameList() = default;
    NameList(const std::vector<std::string>& names, const std::string& source);
    NameList(const NameList&) = delete;
    NameList& operator=(const NameList&) = delete;

    const char* const* slots() const { return m_slots.data(); }

private:
    std::vector<std::string> m_names;
    std::array<const char*, slotCount> m_slots{};
};

} // namespace CodeModule
