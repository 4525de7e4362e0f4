#include "ServedTime.h"

#include "publisher/PublishError.h"

#include <chrono>
#include <filesystem>

namespace publisher {

namespace fs = std::filesystem;

void laterThanServed(const std::string& newFile, const std::string& servedFile) {
    std::error_code failure;
    const fs::file_time_type served = fs::last_write_time(servedFile, failure);
    if (failure) {
        return; // nothing served yet
    }
    const fs::file_time_type made = fs::last_write_time(newFile, failure);
    const auto seconds = [](fs::file_time_type time) {
        return std::chrono::floor<std::chrono::seconds>(time.time_since_epoch());
    };
    if (!failure && seconds(made) > seconds(served)) {
        return;
    }
    fs::last_write_time(newFile, fs::file_time_type(seconds(served) + std::chrono::seconds(1)),
                        failure);
    if (failure) {
        throw PublishError("cannot set the time of " + newFile + ": " + failure.message());
    }
}

} // namespace publisher
