#include "unzip/UnzipCallbacks.h"

#include "codemodule/CodeModuleState.h"
#include "codemodule/LibraryBoundary.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace CodeModule {

namespace {

constexpr std::size_t printLimit = 32801; // indexes 0 to 32800
constexpr std::size_t nameLimit = 256;
constexpr std::size_t passwordLimit = 257; // the most ever written, zero byte included

constexpr int32_t leaveFile = 100;
constexpr int32_t overwriteFile = 102;
constexpr int32_t overwriteNone = 104;
constexpr int32_t passwordGiven = 0;
constexpr int32_t passwordNone = 1;

} // namespace

int32_t UnzipPrintCallback(const char* text, uint32_t length) {
    try {
        std::string message =
            CodeModule::libraryText(text, std::min<std::size_t>(length, printLimit));
        if (!message.empty() && message.front() == '\n') {
            message = "\r\n";
        }
        State& s = state();
        s.unzipPrintText += message;
        // Both began empty with the call: appending keeps them equal without
        // copying the whole text at every message.
        s.lastMessage += message;
    } catch (const std::exception&) {
        // A library callback never raises: a failing step is skipped.
    }
    return 0;
}

int32_t OverwriteCallback(const char* existingFilePath) {
    // Leaving the file is the safe answer when the user could not be asked.
    int32_t result = leaveFile;
    try {
        const std::string name = libraryText(existingFilePath, nameLimit);
        const int answer = toolkit().msgBox("Overwrite " + name + "?",
                                            platform::MsgBoxStyle::yesNoCancel +
                                                platform::MsgBoxStyle::exclamation,
                                            "VBUnZip32 - File Already Exists!");
        if (answer == platform::MsgBoxAnswer::no) {
            result = leaveFile;
        } else if (answer == platform::MsgBoxAnswer::cancel) {
            result = overwriteNone;
        } else {
            result = overwriteFile;
        }
    } catch (const std::exception&) {
        // A library callback never raises: a failing step is skipped.
    }
    return result;
}

int32_t UnzipPasswordCallback(char* passwordBuffer, int32_t bufferSize, const char*, const char*) {
    int32_t result = passwordNone;
    try {
        State& s = state();
        if (s.passwordRefused == 1) {
            return result;
        }
        const std::string answer = toolkit().inputBox("Please Enter The Password!", "");
        const std::size_t room =
            bufferSize > 0
                ? std::min<std::size_t>(static_cast<std::size_t>(bufferSize), passwordLimit)
                : 0;
        if (answer.empty() || passwordBuffer == nullptr) {
            s.passwordRefused = 1;
            return result;
        }
        std::memset(passwordBuffer, 0, room);
        // A password that does not fit with its zero byte would be cut into
        // another password: it counts as none given, and none of it is left
        // in the library's buffer.
        if (answer.size() + 1 > room) {
            s.passwordRefused = 1;
            return result;
        }
        std::memcpy(passwordBuffer, answer.data(), answer.size());
        result = passwordGiven;
    } catch (const std::exception&) {
        // A library callback never raises: a failing step is skipped.
    }
    return result;
}

void ListingCallback(uint32_t, uint32_t, int32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                     char, const char*, const char*, uint32_t, char) {}

int32_t ServiceCallback(const char*, uint32_t) {
    return 0;
}

} // namespace CodeModule
