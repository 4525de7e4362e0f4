#include "app/DownloadPercent.h"

#include "platform/Error.h"
#include "text/Numbers.h"

namespace updater {

std::string downloadPercent(int32_t received, int32_t total, const std::string& source) {
    if (total == 0) {
        platform::raiseError(platform::ErrorNumber::divisionByZero, source);
    }
    const double percent = static_cast<double>(received) / total * 100;
    return std::to_string(static_cast<long long>(text::roundHalfEven(percent)));
}

} // namespace updater
