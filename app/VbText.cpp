#include "app/VbText.h"

#include "platform/Error.h"

#include <cmath>
#include <cstdlib>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

double leadingNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) {
        ++i;
    }
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return 0;
    }
    // An exponent counts only when digits follow it.
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j])) {
                ++j;
            }
            i = j;
        }
    }
    const std::string number = text.substr(start, i - start);
    const double value = std::strtod(number.c_str(), nullptr);
    return std::isfinite(value) ? value : 0;
}

double roundHalfEven(double value) {
    const double lower = std::floor(value);
    const double difference = value - lower;
    if (difference < 0.5) {
        return lower;
    }
    if (difference > 0.5) {
        return lower + 1;
    }
    return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

int32_t roundToInt32(double value, const std::string& source) {
    const double rounded = roundHalfEven(value);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
        platform::raiseError(platform::ErrorNumber::overflow, source);
    }
    return static_cast<int32_t>(rounded);
}

std::vector<std::string> splitText(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    if (text.empty()) {
        return pieces;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}
