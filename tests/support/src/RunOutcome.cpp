#include "testsupport/RunOutcome.h"

#include <charconv>
#include <sstream>

namespace testsupport {

namespace {

const std::string outcomeStart = "outcome: ";

std::optional<RunOutcome> parseFields(const std::string& text) {
    RunOutcome outcome;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos || equals == 0) {
            return std::nullopt;
        }
        std::int64_t value = 0;
        const char* first = word.data() + equals + 1;
        const char* last = word.data() + word.size();
        const auto [end, error] = std::from_chars(first, last, value);
        if (error != std::errc() || end != last || first == last) {
            return std::nullopt;
        }
        outcome.fields[word.substr(0, equals)] = value;
    }
    return outcome;
}

} // namespace

std::optional<std::int64_t> RunOutcome::field(const std::string& name) const {
    const auto found = fields.find(name);
    if (found == fields.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<RunOutcome> lastRunOutcome(const std::string& said) {
    std::optional<std::string> last;
    std::istringstream lines(said);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(outcomeStart, 0) == 0) {
            last = line.substr(outcomeStart.size());
        }
    }
    if (!last) {
        return std::nullopt;
    }
    return parseFields(*last);
}

} // namespace testsupport
