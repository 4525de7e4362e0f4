#include "zipformat/LineEnds.h"

namespace zipformat {

void LineEndTranslator::translate(std::string_view piece, std::string& out) {
    if (m_change == LineEndChange::none) {
        out.append(piece);
        return;
    }
    for (const char c : piece) {
        if (m_change == LineEndChange::crLfToLf) {
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

} // namespace zipformat
