// morvane-publish: makes what the web server serves for an update of
// Morvane from a release folder.

#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"
#include "platform/console/ConsoleToolkit.h"
#include "platform/files/ExecutableFolder.h"
#include "publisher/Comparison.h"
#include "publisher/Publication.h"
#include "publisher/PublishError.h"

#include <charconv>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using publisher::publish;
using publisher::PublishError;
using publisher::PublishRequest;

namespace {

const char* const usage =
    "usage: morvane-publish [--key PRIVATE_KEY_FILE [--valid-days N] [--for-older-updaters]]\n"
    "                       RELEASE_FOLDER VERSION OUTPUT_FOLDER\n"
    "       morvane-publish --key PRIVATE_KEY_FILE [--valid-days N] --renew OUTPUT_FOLDER\n"
    "       morvane-publish --compare OLD_PACKAGE NEW_PACKAGE\n"
    "\n"
    "Packs RELEASE_FOLDER (its files and folders as they should lie in the\n"
    "installation folder) into OUTPUT_FOLDER/clientfiles/morvane/morvane.zip and\n"
    "writes VERSION (three numbers, such as 1.3.0) to\n"
    "OUTPUT_FOLDER/clientfiles/morvane/version.php. A release without its own\n"
    "updater.ini gets one that creates its folders and moves every file into\n"
    "place. With --key, the package carries the signature of that Ed25519\n"
    "private key (openssl genpkey -algorithm ed25519 -out key.pem) for VERSION,\n"
    "and version.php a signed release line after the version that binds it to\n"
    "this package for N days (default 30); an updater built with the matching\n"
    "public key insists on both. The package is tested before either served\n"
    "file is replaced.\n"
    "\n"
    "--renew signs the served version.php again for N days from now without\n"
    "touching the package: run it daily, well before the answer expires.\n"
    "\n"
    "Every package carries a manifest of its files (morvane.manifest, first in\n"
    "the archive), and the signed release line its SHA-256, so that an updater\n"
    "built with the key fetches only the files its installation lacks.\n"
    "--for-older-updaters leaves the SHA-256 out (and --renew keeps it out):\n"
    "keyed updaters built before they could fetch only what changed refuse a\n"
    "line that names it; with it left out every updater downloads the whole\n"
    "package. --compare writes nothing: it reports how many bytes of\n"
    "NEW_PACKAGE a user who has the release of OLD_PACKAGE installed fetches,\n"
    "against NEW_PACKAGE's whole size.\n";

// The command line, or nothing when it does not follow the usage.
struct Command {
    std::string privateKeyFile;
    int validDays = publisher::defaultValidDays;
    bool validDaysGiven = false;
    bool renew = false;
    bool compare = false;
    bool forOlderUpdaters = false;
    std::vector<std::string> operands;
};

std::optional<Command> readCommand(std::vector<std::string> arguments) {
    Command command;
    while (!arguments.empty() && arguments.front().starts_with("--")) {
        const std::string option = arguments.front();
        arguments.erase(arguments.begin());
        if (option == "--renew" || option == "--compare" || option == "--for-older-updaters") {
            (option == "--renew"     ? command.renew
             : option == "--compare" ? command.compare
                                     : command.forOlderUpdaters) = true;
            continue;
        }
        if (arguments.empty()) {
            return std::nullopt;
        }
        const std::string value = arguments.front();
        arguments.erase(arguments.begin());
        if (option == "--key" && command.privateKeyFile.empty()) {
            command.privateKeyFile = value;
        } else if (option == "--valid-days" && !command.validDaysGiven) {
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), command.validDays);
            if (error != std::errc() || end != value.data() + value.size()) {
                return std::nullopt;
            }
            command.validDaysGiven = true;
        } else {
            return std::nullopt;
        }
    }
    command.operands = std::move(arguments);
    const bool keyed = !command.privateKeyFile.empty();
    if (command.compare) {
        // A dry run: it signs nothing.
        return command.operands.size() == 2 && !keyed && !command.validDaysGiven &&
                       !command.renew && !command.forOlderUpdaters
                   ? std::optional(command)
                   : std::nullopt;
    }
    if ((command.validDaysGiven && !keyed) ||
        (command.forOlderUpdaters && (!keyed || command.renew)) ||
        command.operands.size() != (command.renew ? 1u : 3u) || (command.renew && !keyed)) {
        return std::nullopt;
    }
    return command;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
        std::cout << usage;
        return 0;
    }
    const auto command = readCommand(std::vector<std::string>(argv + 1, argv + argc));
    if (!command) {
        std::cerr << usage;
        return 2;
    }
    const std::vector<std::string>& operands = command->operands;
    if (command->compare) {
        try {
            publisher::compare(operands[0], operands[1], std::cout);
        } catch (const std::exception& failure) {
            std::cerr << "morvane-publish: cannot compare: " << failure.what() << '\n';
            return 1;
        }
        return 0;
    }
    platform::ConsoleToolkit toolkit(std::cerr);
    toolkit.setAppTitle("morvane-publish");
    try {
        // The two libraries lie beside the tool.
        CodeModule::setLibraryFolder(platform::executableFolder());
        CodeModule::useToolkit(toolkit);
        if (command->renew) {
            publisher::renew(
                publisher::RenewRequest{operands[0], command->privateKeyFile, command->validDays},
                std::cout);
        } else {
            publish(PublishRequest{operands[0],
                                   operands[1],
                                   operands[2],
                                   command->privateKeyFile,
                                   command->validDays,
                                   !command->forOlderUpdaters,
                                   {}},
                    toolkit, std::cout);
        }
    } catch (const PublishError& failure) {
        // A served version never points at a package older than itself, so
        // a new package without its version text is safe to leave served.
        std::cerr << (failure.packageServed()
                          ? "morvane-publish: the new package is served, the old version text "
                            "still: "
                          : "morvane-publish: nothing published: ")
                  << failure.what() << '\n';
        return 1;
    } catch (const platform::Error& failure) {
        std::cerr << "morvane-publish: nothing published: " << failure.description() << '\n';
        return 1;
    } catch (const std::exception& failure) {
        std::cerr << "morvane-publish: nothing published: " << failure.what() << '\n';
        return 1;
    }
    return 0;
}
