#include "text/Numbers.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace text {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

double leadingNumber(std::string_view text) {
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
    const std::string number(text.substr(start, i - start));
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

} // namespace text
