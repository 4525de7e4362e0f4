#pragma once

#include "zip32.h"

#include <optional>
#include <string>

namespace zip32 {

// The option record as ZpSetOptions received it, with copies of its texts,
// so that the caller may free its own at once.
class KeptOptions {
public:
    KeptOptions();
    KeptOptions(const KeptOptions& other);
    KeptOptions& operator=(const KeptOptions& other);

    void keep(const ZpOptions& options);
    // The record with its text pointers aimed at the copies here.
    const ZpOptions& record() const { return m_record; }

private:
    void aimTexts();

    ZpOptions m_record{};
    std::optional<std::string> m_dateText;
    std::optional<std::string> m_rootDirectory;
};

} // namespace zip32
