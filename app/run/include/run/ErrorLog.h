#pragma once

#include "platform/toolkit/Toolkit.h"

#include <ctime>
#include <functional>
#include <string>

namespace updater {

// The append-only error log of the installation, one record per line, and
// the box that tells the user. Never fails: when the log cannot be written,
// a box says so and the caller goes on.
class ErrorLog {
public:
    ErrorLog(platform::Toolkit& toolkit, std::string path);

    void note(const std::string& formname, const std::string& ErrorContent, bool showMSG);
    // The day written into records; the local date unless a test sets it.
    void setToday(std::function<std::tm()> today) { m_today = std::move(today); }

private:
    platform::Toolkit& m_toolkit;
    std::string m_path;
    std::function<std::tm()> m_today;
};

} // namespace updater
