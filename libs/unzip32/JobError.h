#pragma once

#include "ResultText.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace unzip32 {

// A fault of one entry: that entry is given up, the job goes on with the next.
class EntryFault : public std::runtime_error {
public:
    EntryFault(int32_t code, const std::string& problem)
        : std::runtime_error(problem), m_code(code) {}
    // With the code's own text, for a fault that has nothing to add.
    explicit EntryFault(int32_t code) : EntryFault(code, resultText(code)) {}
    int32_t code() const { return m_code; }
    // Whether no further entry can be handled after it (see JobStop).
    bool stopsTheJob() const { return m_stopsTheJob; }

protected:
    EntryFault(int32_t code, const std::string& problem, bool stopsTheJob)
        : std::runtime_error(problem), m_code(code), m_stopsTheJob(stopsTheJob) {}

private:
    int32_t m_code;
    bool m_stopsTheJob = false;
};

// A fault after which no further entry can be handled (a full disk, an
// unreadable archive, the caller's stop).
class JobStop : public EntryFault {
public:
    JobStop(int32_t code, const std::string& problem) : EntryFault(code, problem, true) {}
    explicit JobStop(int32_t code) : JobStop(code, resultText(code)) {}
};

} // namespace unzip32
