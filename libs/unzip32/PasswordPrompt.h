#pragma once

#include "EntryInfo.h"
#include "unzip32.h"

#include <array>

namespace unzip32 {

// A password as the caller gave it, wiped from memory when done with.
class Password {
public:
    Password() = default;
    ~Password();
    Password(const Password&) = delete;
    Password& operator=(const Password&) = delete;

    char* buffer() { return m_bytes.data(); }
    const char* text() const { return m_bytes.data(); }

private:
    // One byte beyond the size offered to the caller stays zero, so that the
    // password always ends.
    std::array<char, UZP_PASSWORD_BUFFER_SIZE + 1> m_bytes{};
};

// Asks the caller through the password callback. Throws an EntryFault
// (UZP_NO_PASSWORD) when none is given.
void askPassword(UzpPasswordCallback callback, const EntryInfo& entry, Password& password);

// The last password of a job that opened an entry: tried first on every
// later encrypted entry, so that a package encrypted with one password asks
// for it once.
class KnownPassword {
public:
    bool known() const { return m_known; }
    const char* text() const { return m_password.text(); }
    void remember(const Password& password);

private:
    Password m_password;
    bool m_known = false;
};

} // namespace unzip32
