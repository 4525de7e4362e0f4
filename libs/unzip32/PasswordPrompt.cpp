#include "PasswordPrompt.h"

#include "JobError.h"

#include <cstring>
#include <string>

namespace unzip32 {

Password::~Password() {
    explicit_bzero(m_bytes.data(), m_bytes.size());
}

void askPassword(UzpPasswordCallback callback, const EntryInfo& entry, Password& password) {
    const std::string prompt = "Enter the password for " + entry.name;
    if (callback == nullptr || callback(password.buffer(), UZP_PASSWORD_BUFFER_SIZE, prompt.c_str(),
                                        entry.name.c_str()) != UZP_PASSWORD_GIVEN) {
        throw EntryFault(UZP_NO_PASSWORD);
    }
}

} // namespace unzip32
