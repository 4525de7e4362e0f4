#pragma once

#include "unzip32.h"

#include <string_view>

namespace unzip32 {

// Every message of a job goes out here, one line per print-callback call,
// filtered by the quiet level.
class Reporter {
public:
    Reporter(UzpPrintCallback print, int quietLevel) : m_print(print), m_quietLevel(quietLevel) {}

    // Progress: a line per entry, shown at quiet level 0 or below.
    void info(std::string_view line) const;
    // Something the caller should know of, shown up to quiet level 1.
    void warning(std::string_view entryName, std::string_view problem) const;
    // A failure, always shown.
    void error(std::string_view entryName, std::string_view problem) const;
    // A failure told by its result code alone.
    void error(std::string_view entryName, int32_t code) const;
    // Text asked for explicitly (the archive comment), always shown as it is.
    void text(std::string_view text) const;

private:
    void emit(std::string_view text) const;

    UzpPrintCallback m_print;
    int m_quietLevel;
};

} // namespace unzip32
