#include "LineEnds.h"

namespace unzip32 {

std::string_view LineEndTranslator::translate(std::span<const char> piece) {
    m_output.clear();
    for (const char c : piece) {
        if (m_heldCarriageReturn && c != '\n') {
            m_output.push_back('\r');
        }
        m_heldCarriageReturn = c == '\r';
        if (!m_heldCarriageReturn) {
            m_output.push_back(c);
        }
    }
    return m_output;
}

std::string_view LineEndTranslator::finish() {
    m_output.clear();
    if (m_heldCarriageReturn) {
        m_output.push_back('\r');
        m_heldCarriageReturn = false;
    }
    return m_output;
}

bool looksLikeText(std::span<const char> start) {
    for (const char c : start) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\f' && byte != '\r' &&
            byte != 0x1B) {
            return false;
        }
    }
    return true;
}

} // namespace unzip32
