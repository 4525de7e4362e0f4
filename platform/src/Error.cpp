#include "platform/Error.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

Error::Error(int32_t number, std::string source, std::string description)
    : m_number(number), m_source(std::move(source)), m_description(std::move(description)) {}

Error Error::withSource(std::string source) const {
    return Error(m_number, std::move(source), m_description);
}

namespace {

// The standard description of a numbered error; empty for unknown numbers.
std::string classicDescription(int32_t number) {
    // Any other number falls through the switch: it has no classic text.
    switch (static_cast<ErrorNumber::Classic>(number)) {
    case ErrorNumber::invalidCall:
        return "Invalid procedure call or argument";
    case ErrorNumber::overflow:
        return "Overflow";
    case ErrorNumber::subscriptOutOfRange:
        return "Subscript out of range";
    case ErrorNumber::divisionByZero:
        return "Division by zero";
    case ErrorNumber::dllLoad:
        return "Error in loading DLL";
    case ErrorNumber::fileNotFound:
        return "File not found";
    case ErrorNumber::fileAlreadyExists:
        return "File already exists";
    case ErrorNumber::diskFull:
        return "Disk full";
    case ErrorNumber::permissionDenied:
        return "Permission denied";
    case ErrorNumber::pathFileAccess:
        return "Path/File access error";
    case ErrorNumber::pathNotFound:
        return "Path not found";
    case ErrorNumber::invalidPropertyValue:
        return "Invalid property value";
    case ErrorNumber::dllEntryPoint:
        return "Can't find DLL entry point";
    }
    return {};
}

} // namespace

Error makeError(int32_t number, const std::string& source, const std::string& detail) {
    std::string description = classicDescription(number);
    if (!detail.empty()) {
        description += description.empty() ? detail : ": " + detail;
    }
    return Error(number, source, description);
}

void raiseError(int32_t number, const std::string& source, const std::string& detail) {
    throw makeError(number, source, detail);
}

Error systemError(int errnoValue, const std::string& source, const std::string& path) {
    int32_t number = ErrorNumber::pathFileAccess;
    switch (errnoValue) {
    case ENOENT:
        number = ErrorNumber::fileNotFound;
        break;
    case ENOTDIR:
        number = ErrorNumber::pathNotFound;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        number = ErrorNumber::permissionDenied;
        break;
    case EEXIST:
        number = ErrorNumber::fileAlreadyExists;
        break;
    default:
        break;
    }
    return makeError(number, source, path + " (" + std::strerror(errnoValue) + ")");
}

} // namespace platform
