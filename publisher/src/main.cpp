// morvane-publish: makes what the web server serves for an update of
// Morvane from a release folder.

#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"
#include "platform/console/ConsoleToolkit.h"
#include "platform/files/ExecutableFolder.h"
#include "publisher/CommandLine.h"
#include "publisher/Comparison.h"
#include "publisher/KeysCommand.h"
#include "publisher/Publication.h"
#include "publisher/PublishError.h"
#include "publisher/Stopping.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

using publisher::Command;

namespace {

int compare(const Command& command) {
    try {
        publisher::compare(command.operands[0], command.operands[1], std::cout);
    } catch (const std::exception& failure) {
        std::cerr << "morvane-publish: cannot compare: " << failure.what() << '\n';
        return 1;
    }
    return 0;
}

void carryOut(const Command& command, platform::ConsoleToolkit& toolkit) {
    const std::vector<std::string>& operands = command.operands;
    const int validDays = command.validDays.value_or(publisher::defaultValidDays);
    if (command.task == Command::Task::renew) {
        publisher::renew({operands[0], operands[1], command.privateKeyFile, validDays}, std::cout);
        return;
    }
    publisher::publish({operands[0],
                        operands[1],
                        operands[2],
                        command.privateKeyFile,
                        validDays,
                        !command.forOlderUpdaters,
                        {},
                        command.replaceNewer,
                        publisher::defaultChunkedFrom,
                        command.answerLifetime.value_or(publisher::defaultAnswerLifetime),
                        command.replaceKey},
                       toolkit, std::cout);
}

// The keys line, made offline: no package, no served answer touched.
int makeKeys(const std::vector<std::string>& arguments) {
    const auto read = publisher::readKeysCommand(arguments);
    if (const auto* mistake = std::get_if<publisher::UsageMistake>(&read)) {
        std::cerr << "morvane-publish: " << mistake->reason << "\n" << publisher::keysUsage;
        return 2;
    }
    try {
        publisher::makeKeys(std::get<publisher::KeysCommand>(read), std::cout);
    } catch (const std::exception& failure) {
        std::cerr << "morvane-publish: no keys line made: " << failure.what() << '\n';
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && (arguments[0] == "-h" || arguments[0] == "--help")) {
        std::cout << publisher::shortUsage << publisher::fullUsage;
        return 0;
    }
    if (!arguments.empty() && arguments[0] == publisher::makeKeysOption) {
        return makeKeys({arguments.begin() + 1, arguments.end()});
    }
    const auto read = publisher::readCommand(arguments);
    if (const auto* mistake = std::get_if<publisher::UsageMistake>(&read)) {
        std::cerr << "morvane-publish: " << mistake->reason << "\n"
                  << publisher::shortUsage << "(morvane-publish --help tells more)\n";
        return 2;
    }
    const Command& command = std::get<Command>(read);
    if (command.task == Command::Task::compare) {
        return compare(command);
    }
    const bool renewing = command.task == Command::Task::renew;
    // Before any other thread starts: a stop removes what the run has made.
    const publisher::StopOnSignals stopping(std::cerr,
                                            renewing ? "not renewed" : "nothing published");
    const std::string refused =
        renewing ? "morvane-publish: not renewed: " : "morvane-publish: nothing published: ";
    platform::ConsoleToolkit toolkit(std::cerr);
    toolkit.setAppTitle("morvane-publish");
    try {
        // The two libraries lie beside the tool.
        CodeModule::setLibraryFolder(platform::executableFolder());
        CodeModule::useToolkit(toolkit);
        carryOut(command, toolkit);
    } catch (const publisher::PublishError& failure) {
        // A served version never points at a package older than itself, so
        // a new package without its version text is safe to leave served.
        std::cerr << (failure.packageServed()
                          ? "morvane-publish: the new package is served, the old version text "
                            "still: "
                          : refused)
                  << failure.what() << '\n';
        return 1;
    } catch (const platform::Error& failure) {
        std::cerr << refused << failure.description() << '\n';
        return 1;
    } catch (const std::exception& failure) {
        std::cerr << refused << failure.what() << '\n';
        return 1;
    }
    return 0;
}
