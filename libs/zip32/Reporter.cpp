#include "Reporter.h"

#include "text/LabelledLine.h"

#include <string>

namespace zip32 {

void Reporter::info(std::string_view line) const {
    if (!m_quiet) {
        emit(line);
    }
}

void Reporter::warning(std::string_view name, std::string_view problem) const {
    emit(text::labelledLine("zip warning: ", name, problem));
}

void Reporter::error(std::string_view name, std::string_view problem) const {
    emit(text::labelledLine("zip error: ", name, problem));
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
