#include "LineEnds.h"

namespace zip32 {

bool looksLikeText(std::string_view start) {
    for (const char c : start) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f' &&
            byte != 0x1B && byte != '\b') {
            return false;
        }
    }
    return true;
}

void LineEndTranslator::translate(std::string_view piece, std::string& out) {
    for (const char c : piece) {
        if (m_change == LineEndChange::CrLfToLf) {
            if (m_heldCarriageReturn && c != '\n') {
                out.push_back('\r');
            }
            m_heldCarriageReturn = c == '\r';
            if (!m_heldCarriageReturn) {
                out.push_back(c);
            }
        } else {
            if (c == '\n' && !m_lastWasCarriageReturn) {
                out.push_back('\r');
            }
            m_lastWasCarriageReturn = c == '\r';
            out.push_back(c);
        }
    }
}

void LineEndTranslator::finish(std::string& out) {
    if (m_heldCarriageReturn) {
        out.push_back('\r');
        m_heldCarriageReturn = false;
    }
}

} // namespace zip32
