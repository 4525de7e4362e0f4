#include "fetch/DownloadPercent.h"

#include "platform/Error.h"
#include "text/Numbers.h"

#include <algorithm>

namespace updater {

std::string downloadPercent(int64_t received, int64_t total, const std::string& source) {
    if (total == 0) {
        platform::raiseError(platform::ErrorNumber::divisionByZero, source);
    }
    const double percent = static_cast<double>(received) / static_cast<double>(total) * 100;
    return std::to_string(static_cast<long long>(text::roundHalfEven(percent)));
}

std::string plannedPercent(uint64_t received, uint64_t total) {
    if (total == 0) {
        return "0";
    }
    const double percent =
        static_cast<double>(std::min(received, total)) / static_cast<double>(total) * 100;
    return std::to_string(static_cast<long long>(text::roundHalfEven(percent)));
}

std::string percentWithoutTotal(int64_t received) {
    constexpr double halfWay = 4.0 * 1024 * 1024;
    const double percent =
        static_cast<double>(received) / (static_cast<double>(received) + halfWay);
    return std::to_string(
        std::min(99LL, static_cast<long long>(text::roundHalfEven(percent * 100))));
}

} // namespace updater
