#include "run/ErrorLog.h"

#include "app/SourceLabels.h"

#include "fileio/Writing.h"
#include "platform/Error.h"
#include "text/Ceiling.h"

namespace updater {

namespace {

const char* const contactText = "Error Contact Administrator.";
const char* const logSource = sources::noteError;
// One record's text at most, so that a flood of messages cannot swell the log.
constexpr std::size_t mostRecordText = 64 * 1024;

// dd/mmm/yyyy with English month abbreviations, whatever the locale says.
std::string logDate(const std::tm& day) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (day.tm_mon < 0 || day.tm_mon > 11 || day.tm_mday < 1 || day.tm_mday > 31) {
        platform::raiseError(platform::ErrorNumber::invalidCall, logSource, "no valid date");
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%s/%04d", day.tm_mday, months[day.tm_mon],
                  day.tm_year + 1900);
    return text;
}

// Appends the whole record or raises; the log is open only during this call.
void appendRecord(const std::string& path, const std::string& record) {
    if (const int error = fileio::appendToFile(path, record, 0644)) {
        throw platform::systemError(error, logSource, path);
    }
}

// One record is one line: a description that brings its own line ends
// (a library's messages, an instruction file's text) has them as spaces.
std::string asOneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return text;
}

std::tm localToday() {
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);
    return today;
}

} // namespace

ErrorLog::ErrorLog(platform::Toolkit& toolkit, std::string path)
    : m_toolkit(toolkit), m_path(std::move(path)), m_today(localToday) {}

void ErrorLog::note(const std::string& formname, const std::string& ErrorContent, bool showMSG) {
    try {
        const std::string record =
            "\"" + logDate(m_today()) + "\",\"" +
            text::cutToBytes(asOneLine(formname + " " + ErrorContent), mostRecordText,
                             " \u2026 (cut: the record is longer than 64 KiB)") +
            "\"\r\n";
        appendRecord(m_path, record);
        if (showMSG) {
            m_toolkit.msgBox(std::string(contactText) + "\r\n" + ErrorContent,
                             platform::MsgBoxStyle::okOnly + platform::MsgBoxStyle::information,
                             formname);
        }
    } catch (const std::exception& failure) {
        // The log is lost for this failure: the box is all the user gets, so
        // it carries the failure and why the log could not take it.
        try {
            m_toolkit.msgBox(std::string(contactText) + "\r\n" + ErrorContent +
                                 "\r\n\r\nThe error log could not be written: " + failure.what(),
                             platform::MsgBoxStyle::okOnly + platform::MsgBoxStyle::critical, "");
        } catch (const std::exception&) {
            // Nothing is left to tell the user with; the caller goes on.
        }
    }
}

} // namespace updater
