#pragma once

#include "EntryReader.h"
#include "JobContext.h"
#include "LineEnds.h"

#include <optional>
#include <string_view>

namespace unzip32 {

// An entry's data as it goes out of the job: asked for a password when the
// entry is encrypted, read to its end and checked, and with line ends
// translated when that is asked and the entry is text.
class EntryStream {
public:
    // Throws an EntryFault when the entry cannot be read at all.
    EntryStream(const JobContext& context, const EntryInfo& entry, bool translateLineEnds);

    // The next piece; empty once all is delivered and the entry found sound.
    std::string_view next();

private:
    std::optional<EntryReader> m_reader;
    LineEndTranslator m_translator;
    bool m_translate;
    bool m_textDecided = false;
    bool m_finished = false;
    const EntryInfo& m_entry;
};

} // namespace unzip32
