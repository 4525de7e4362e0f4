#include "EntryStream.h"

#include "JobError.h"
#include "PasswordPrompt.h"

#include <string>

namespace unzip32 {

namespace {

void refuseUnsupported(const EntryInfo& entry) {
    if (zip_compression_method_supported(entry.compressionMethod, 0) == 0) {
        throw EntryFault(UZP_UNSUPPORTED_ENTRY, std::string("skipped: the compression method ") +
                                                    methodName(entry.compressionMethod) + " (" +
                                                    std::to_string(entry.compressionMethod) +
                                                    ") is not supported");
    }
    if (entry.encrypted() && zip_encryption_method_supported(entry.encryptionMethod, 0) == 0) {
        throw EntryFault(UZP_UNSUPPORTED_ENTRY, "skipped: the encryption method (" +
                                                    std::to_string(entry.encryptionMethod) +
                                                    ") is not supported");
    }
}

} // namespace

EntryStream::EntryStream(const JobContext& context, const EntryInfo& entry, bool translateLineEnds,
                         FirstPassword first)
    : m_context(context), m_translate(translateLineEnds), m_entry(entry) {
    refuseUnsupported(entry);
    if (!entry.encrypted()) {
        m_reader.emplace(context.archive, entry, nullptr, context.buffer);
        return;
    }
    if (first == FirstPassword::known && context.password.known()) {
        try {
            m_reader.emplace(context.archive, entry, context.password.text(), context.buffer);
            m_openedWithKnown = true;
            return;
        } catch (const EntryFault& fault) {
            if (fault.code() != UZP_BAD_PASSWORD) {
                throw;
            }
        }
    }
    m_asked = std::make_unique<Password>();
    askPassword(context.callbacks.askPassword, entry, *m_asked);
    m_reader.emplace(context.archive, entry, m_asked->text(), context.buffer);
}

std::string_view EntryStream::next() {
    const std::string_view piece = nextPiece();
    if (piece.empty() && m_asked) {
        m_context.password.remember(*m_asked);
        m_asked.reset();
    }
    return piece;
}

std::string_view EntryStream::nextPiece() {
    if (m_finished) {
        return {};
    }
    const std::span<const char> piece = m_reader->next();
    if (!m_textDecided) {
        m_textDecided = true;
        m_translate = m_translate && (m_entry.markedText || looksLikeText(piece));
    }
    if (!m_translate) {
        m_finished = piece.empty();
        return {piece.data(), piece.size()};
    }
    if (!piece.empty()) {
        const std::string_view translated = m_translator.translate(piece);
        // A piece may translate to nothing (a lone held-back CR); go on reading.
        return translated.empty() ? nextPiece() : translated;
    }
    m_finished = true;
    return m_translator.finish();
}

} // namespace unzip32
