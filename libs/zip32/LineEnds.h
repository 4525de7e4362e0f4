#pragma once

#include <string>
#include <string_view>

namespace zip32 {

enum class LineEndChange { None, CrLfToLf, LfToCrLf };

// Whether the start of a file reads as text: no NUL and no other control
// characters than those text uses (tab, line ends, form feed, escape).
bool looksLikeText(std::string_view start);

// Changes line ends piece by piece; a CR at the end of one piece is decided
// by the start of the next one.
class LineEndTranslator {
public:
    explicit LineEndTranslator(LineEndChange change) : m_change(change) {}

    // Appends the translation of the next piece of the file to out.
    void translate(std::string_view piece, std::string& out);
    // Appends what is held back once the file has ended.
    void finish(std::string& out);

private:
    LineEndChange m_change;
    bool m_heldCarriageReturn = false;
    bool m_lastWasCarriageReturn = false;
};

} // namespace zip32
