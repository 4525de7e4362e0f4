#pragma once

#include "zip32.h"

#include <string_view>

namespace zip32 {

// Every message of a call goes out here, one line per message-callback call.
class Reporter {
public:
    Reporter(ZpMessageCallback print, bool quiet) : m_print(print), m_quiet(quiet) {}

    // Progress: a line per entry and the totals, left out when quiet.
    void info(std::string_view line) const;
    // Something the caller should know of; always shown.
    void warning(std::string_view name, std::string_view problem) const;
    // A failure; always shown.
    void error(std::string_view name, std::string_view problem) const;

private:
    void emit(std::string_view line) const;

    ZpMessageCallback m_print;
    bool m_quiet;
};

} // namespace zip32
