#pragma once

#include "EntryReader.h"
#include "JobContext.h"
#include "JobError.h"
#include "PasswordPrompt.h"
#include "zipformat/LineEnds.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace unzip32 {

// An entry's data as it goes out of the job: asked for a password when the
// entry is encrypted, read to its end and checked, and with line ends
// translated when that is asked and the entry is text.
class EntryStream {
public:
    // Which password an encrypted entry is opened with first.
    enum class FirstPassword { known, asked };

    // Throws an EntryFault when the entry cannot be read at all.
    EntryStream(const JobContext& context, const EntryInfo& entry, bool translateLineEnds,
                FirstPassword first = FirstPassword::known);

    // The next piece; empty once all is delivered and the entry found sound.
    std::string_view next() { return next(m_context.buffer); }
    // The same, read into room instead of the job's buffer: without line-end
    // translation the piece is room's start, so that it can be handed on
    // without a copy.
    std::string_view next(std::span<char> room);

    // Whether the entry was opened with the job's known password rather than
    // one asked for it.
    bool openedWithKnownPassword() const { return m_openedWithKnown; }

private:
    std::string_view nextPiece(std::span<char> room);
    // The reader's next piece, or nothing once it has ended.
    std::string_view readPiece(std::span<char> room);
    // The start the text guess reads, gathered from first on where the
    // reader delivers less at first.
    std::string_view textSample(std::string_view first, std::span<char> room);

    const JobContext& m_context;
    std::optional<EntryReader> m_reader;
    zipformat::LineEndTranslator m_translator{zipformat::LineEndChange::crLfToLf};
    std::string m_translated;
    std::string m_sample;
    bool m_translate;
    bool m_textDecided = false;
    bool m_readerEnded = false;
    bool m_finished = false;
    bool m_openedWithKnown = false;
    // The password asked for this entry, known to the job once the entry
    // proves sound: a password that only passed the entry's check byte by
    // chance is never tried first on the next one.
    std::unique_ptr<Password> m_asked;
    const EntryInfo& m_entry;
};

// Runs read on a stream of the entry. The known password may pass an
// entry's password check by chance (one in 256 for traditional encryption)
// and then show wrong only in the data; read then runs again on a stream
// opened with a password asked for the entry. read must leave nothing
// behind when it throws.
template <typename Read>
void readEntry(const JobContext& context, const EntryInfo& entry, bool translateLineEnds,
               Read read) {
    {
        EntryStream stream(context, entry, translateLineEnds);
        try {
            read(stream);
            return;
        } catch (const EntryFault& fault) {
            if (fault.code() != UZP_BAD_PASSWORD || !stream.openedWithKnownPassword()) {
                throw;
            }
        }
    }
    EntryStream asked(context, entry, translateLineEnds, EntryStream::FirstPassword::asked);
    read(asked);
}

} // namespace unzip32
