#include "Reporter.h"

#include <string>

namespace zip32 {

namespace {

std::string labelled(std::string_view label, std::string_view name, std::string_view problem) {
    std::string line(label);
    if (!name.empty()) {
        line.append(name).append(": ");
    }
    line.append(problem);
    return line;
}

} // namespace

void Reporter::info(std::string_view line) const {
    if (!m_quiet) {
        emit(line);
    }
}

void Reporter::warning(std::string_view name, std::string_view problem) const {
    emit(labelled("zip warning: ", name, problem));
}

void Reporter::error(std::string_view name, std::string_view problem) const {
    emit(labelled("zip error: ", name, problem));
}

void Reporter::emit(std::string_view line) const {
    if (m_print == nullptr) {
        return;
    }
    std::string text(line);
    text.push_back('\n');
    m_print(text.c_str(), static_cast<uint32_t>(text.size()));
}

} // namespace zip32
