#include "zipformat/TextGuess.h"

#include <algorithm>

namespace zipformat {

namespace {

bool isTextControl(unsigned char byte) {
    return byte == '\t' || byte == '\n' || byte == '\f' || byte == '\r' || byte == 0x1B ||
           byte == '\b';
}

} // namespace

bool looksLikeText(std::string_view sample) {
    sample = sample.substr(0, textSampleLength);
    return std::none_of(sample.begin(), sample.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 && !isTextControl(byte);
    });
}

} // namespace zipformat
