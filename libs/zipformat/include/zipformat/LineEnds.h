#pragma once

// Changing the line ends of text that arrives in pieces, as both zip
// libraries do: CR LF to LF (a lone CR stays), or LF to CR LF (an LF that
// already follows a CR stays). A piece may end anywhere, between a CR and
// its LF included.

#include <string>
#include <string_view>

namespace zipformat {

enum class LineEndChange { none, crLfToLf, lfToCrLf };

class LineEndTranslator {
public:
    explicit LineEndTranslator(LineEndChange change) : m_change(change) {}

    // Appends the translation of the next piece to out; a CR at its end is
    // held back until the next piece or the end shows what follows it.
    void translate(std::string_view piece, std::string& out);
    // Appends what is held back once the data has ended.
    void finish(std::string& out);

private:
    LineEndChange m_change;
    bool m_heldCarriageReturn = false;
    bool m_lastWasCarriageReturn = false;
};

} // namespace zipformat
