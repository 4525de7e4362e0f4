#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zip32 {

// What stops a call: its result code and the line that says why.
class JobFailure : public std::runtime_error {
public:
    JobFailure(int32_t code, const std::string& problem)
        : std::runtime_error(problem), m_code(code) {}
    int32_t code() const { return m_code; }

private:
    int32_t m_code;
};

// ZP_DISK_FULL when the disk or quota is full, ZP_WRITE_FAILED otherwise.
int32_t writeFailureCode(int error);

} // namespace zip32
