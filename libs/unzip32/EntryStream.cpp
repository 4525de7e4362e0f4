#include "EntryStream.h"

#include "JobError.h"
#include "PasswordPrompt.h"
#include "zipformat/TextGuess.h"

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
        m_reader.emplace(context.archive, entry, nullptr);
        return;
    }
    if (first == FirstPassword::known && context.password.known()) {
        try {
            m_reader.emplace(context.archive, entry, context.password.text());
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
    m_reader.emplace(context.archive, entry, m_asked->text());
}

std::string_view EntryStream::next(std::span<char> room) {
    const std::string_view piece = nextPiece(room);
    if (piece.empty() && m_asked) {
        m_context.password.remember(*m_asked);
        m_asked.reset();
    }
    return piece;
}

std::string_view EntryStream::nextPiece(std::span<char> room) {
    if (m_finished) {
        return {};
    }
    std::string_view piece = readPiece(room);
    if (!m_textDecided) {
        m_textDecided = true;
        if (m_translate && !m_entry.markedText) {
            piece = textSample(piece, room);
            m_translate = zipformat::looksLikeText(piece);
        }
    }
    if (!m_translate) {
        m_finished = piece.empty();
        return piece;
    }
    m_translated.clear();
    if (!piece.empty()) {
        m_translator.translate(piece, m_translated);
        // A piece may translate to nothing (a lone held-back CR); go on reading.
        return m_translated.empty() ? nextPiece(room) : m_translated;
    }
    m_finished = true;
    m_translator.finish(m_translated);
    return m_translated;
}

std::string_view EntryStream::readPiece(std::span<char> room) {
    if (m_readerEnded) {
        return {};
    }
    const std::span<const char> piece = m_reader->next(room);
    m_readerEnded = piece.empty();
    return {piece.data(), piece.size()};
}

// The guess must not depend on how the data is cut: an inflated AES entry
// comes in pieces as small as the inflater makes them.
std::string_view EntryStream::textSample(std::string_view first, std::span<char> room) {
    if (first.size() >= zipformat::textSampleLength || m_readerEnded) {
        return first;
    }
    m_sample.assign(first);
    while (m_sample.size() < zipformat::textSampleLength) {
        const std::string_view more = readPiece(room);
        if (more.empty()) {
            break;
        }
        m_sample.append(more);
    }
    return m_sample;
}

} // namespace unzip32
