#include "Reporter.h"

#include "ResultText.h"
#include "text/LabelledLine.h"

#include <algorithm>
#include <string>

namespace unzip32 {

namespace {

// The caller reads a bounded number of bytes per message.
constexpr std::size_t maximumPieceLength = 32768;

} // namespace

void Reporter::info(std::string_view line) const {
    if (m_quietLevel <= 0) {
        emit(line);
    }
}

void Reporter::warning(std::string_view entryName, std::string_view problem) const {
    if (m_quietLevel <= 1) {
        emit(text::labelledLine("warning: ", entryName, problem));
    }
}

void Reporter::error(std::string_view entryName, std::string_view problem) const {
    emit(text::labelledLine("error: ", entryName, problem));
}

void Reporter::error(std::string_view entryName, int32_t code) const {
    error(entryName, resultText(code));
}

void Reporter::text(std::string_view text) const {
    emit(text);
}

// Each line goes out on its own and ends in a line feed, so that no piece the
// caller receives starts with one unless it is an empty line.
void Reporter::emit(std::string_view text) const {
    if (m_print == nullptr) {
        return;
    }
    while (!text.empty()) {
        const std::size_t lineEnd = text.find('\n');
        std::string_view line = text.substr(0, lineEnd);
        text = lineEnd == std::string_view::npos ? std::string_view() : text.substr(lineEnd + 1);
        do {
            const std::size_t length = std::min(line.size(), maximumPieceLength);
            std::string piece(line.substr(0, length));
            line.remove_prefix(length);
            if (line.empty()) {
                piece.push_back('\n');
            }
            m_print(piece.c_str(), static_cast<uint32_t>(piece.size()));
        } while (!line.empty());
    }
}

} // namespace unzip32
