#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace publisher {

// What the tool is asked to do, as its command line says.
struct Command {
    enum class Task { publish, renew, compare };
    Task task = Task::publish;
    std::string privateKeyFile;
    std::optional<int> validDays;
    std::optional<int> answerLifetime;
    bool forOlderUpdaters = false;
    bool replaceNewer = false;
    bool replaceKey = false;
    // RELEASE_FOLDER VERSION OUTPUT_FOLDER; OUTPUT_FOLDER VERSION; OLD_PACKAGE
    // NEW_PACKAGE.
    std::vector<std::string> operands;
};

// A command line that does not follow the usage: one sentence that names
// what is wrong.
struct UsageMistake {
    std::string reason;
};

// Reads the arguments after the program's name. Options come first, each at
// most once; --renew and --compare choose the task.
std::variant<Command, UsageMistake> readCommand(const std::vector<std::string>& arguments);

// The three forms of the command line, for a usage mistake.
extern const char* const shortUsage;
// Those and what the tool does, for --help.
extern const char* const fullUsage;

} // namespace publisher
