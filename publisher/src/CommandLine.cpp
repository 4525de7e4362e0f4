#include "publisher/CommandLine.h"

#include "publisher/Publication.h"

#include <charconv>
#include <map>

namespace publisher {

const char* const shortUsage =
    "usage: morvane-publish [--key PRIVATE_KEY_FILE [--valid-days N] [--for-older-updaters]]\n"
    "                       [--replace-newer] [--replace-key] [--answer-lifetime SECONDS]\n"
    "                       RELEASE_FOLDER VERSION OUTPUT_FOLDER\n"
    "       morvane-publish --key PRIVATE_KEY_FILE [--valid-days N] --renew OUTPUT_FOLDER "
    "VERSION\n"
    "       morvane-publish --compare OLD_PACKAGE NEW_PACKAGE\n"
    "       morvane-publish --make-keys --root ROOT_KEY_FILE ... --threshold N [...]\n"
    "                       OUTPUT_FOLDER RELEASE_PUBLIC_KEY ...\n";

const char* const fullUsage =
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
    "file is replaced. A VERSION older than the one served is refused unless\n"
    "--replace-newer says it is meant, and so is a release signed by another\n"
    "key than the served one, or not signed where it is, unless --replace-key\n"
    "says it is meant (updaters built with the served key refuse it).\n"
    "\n"
    "--renew signs the served version.php again for N days from now without\n"
    "touching the package, when it still names VERSION: run it daily, well\n"
    "before the answer expires.\n"
    "\n"
    "Every package carries a manifest of its files (morvane.manifest, last in\n"
    "the archive), and the signed release line its SHA-256, so that an updater\n"
    "built with the key fetches only the files its installation lacks; files of\n"
    "1 MiB or more are deflated in chunks, listed in morvane.chunks, so that it\n"
    "fetches only the chunks of them it lacks.\n"
    "--for-older-updaters leaves the SHA-256 out (and --renew keeps it out):\n"
    "keyed updaters built before they could fetch only what changed refuse a\n"
    "line that names it; with it left out every updater downloads the whole\n"
    "package. --compare writes nothing: it reports how many bytes of\n"
    "NEW_PACKAGE a user who has the release of OLD_PACKAGE installed fetches,\n"
    "against NEW_PACKAGE's whole size, and whether the updater takes those or\n"
    "the whole package.\n"
    "\n"
    "Each publication also writes, into OUTPUT_FOLDER/server-settings (which\n"
    "need not be served), the settings to include in nginx, Apache httpd,\n"
    "lighttpd, Caddy, Varnish, Squid and Apache Traffic Server so that they\n"
    "serve the two files safely: caches keep version.php at most SECONDS\n"
    "(--answer-lifetime, 1 to 60, default 60), check the package with the\n"
    "publisher's server before each use, byte ranges on, no compression.\n"
    "\n"
    "--make-keys writes OUTPUT_FOLDER/clientfiles/morvane/keys.txt: the release\n"
    "public keys an updater built with root keys trusts, signed by the root key\n"
    "files given (--root, at least --threshold of them), valid --valid-days\n"
    "(default 365), its serial one above the one before. With --new-root files\n"
    "and --new-threshold, it also writes rootset-N.txt, signed by both sets,\n"
    "which moves updaters to the new root keys. Publishing and --renew carry\n"
    "keys.txt into version.php; the key that signs must be one it lists.\n";

namespace {

enum class Flag { renew, compare, forOlderUpdaters, replaceNewer, replaceKey };

const std::map<std::string, Flag, std::less<>> flags{
    {"--renew", Flag::renew},
    {"--compare", Flag::compare},
    {"--for-older-updaters", Flag::forOlderUpdaters},
    {"--replace-newer", Flag::replaceNewer},
    {"--replace-key", Flag::replaceKey},
};

std::optional<int> wholeNumber(const std::string& value) {
    int number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size()) {
        return std::nullopt;
    }
    return number;
}

std::string operandsText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " operand" : " operands");
}

// The value given after option, taken into command; the mistake when it is
// not one the option takes.
std::optional<UsageMistake> takeValue(const std::string& option, const std::string& value,
                                      Command& command) {
    if (option == "--key") {
        command.privateKeyFile = value;
        return std::nullopt;
    }
    const bool days = option == "--valid-days";
    const std::optional<int> number = wholeNumber(value);
    if (!number) {
        return UsageMistake{option + " takes a whole number of " + (days ? "days" : "seconds") +
                            ", not \"" + value + "\""};
    }
    if (days) {
        command.validDays = number;
        return std::nullopt;
    }
    if (*number < 1 || *number > maxAnswerLifetime) {
        return UsageMistake{"--answer-lifetime takes 1 to " + std::to_string(maxAnswerLifetime) +
                            " seconds (caches must not keep the version answer longer than a "
                            "minute), not \"" +
                            value + "\""};
    }
    command.answerLifetime = number;
    return std::nullopt;
}

// The options at the front of the arguments, which it leaves with the
// operands; the mistake when one is unknown, doubled or without its value.
std::optional<UsageMistake> readOptions(std::vector<std::string>& arguments, Command& command,
                                        std::map<Flag, bool>& given) {
    std::size_t at = 0;
    for (; at < arguments.size() && arguments[at].starts_with("--"); ++at) {
        const std::string& option = arguments[at];
        if (const auto flag = flags.find(option); flag != flags.end()) {
            if (given[flag->second]) {
                return UsageMistake{option + " is given twice"};
            }
            given[flag->second] = true;
            continue;
        }
        if (option != "--key" && option != "--valid-days" && option != "--answer-lifetime") {
            return UsageMistake{"there is no option " + option};
        }
        if ((option == "--key" && !command.privateKeyFile.empty()) ||
            (option == "--valid-days" && command.validDays) ||
            (option == "--answer-lifetime" && command.answerLifetime)) {
            return UsageMistake{option + " is given twice"};
        }
        if (at + 1 == arguments.size()) {
            return UsageMistake{option +
                                (option == "--key"          ? " needs the private key file"
                                 : option == "--valid-days" ? " needs the number of days"
                                                            : " needs the number of seconds") +
                                " after it"};
        }
        if (auto mistake = takeValue(option, arguments[++at], command)) {
            return mistake;
        }
    }
    arguments.erase(arguments.begin(), arguments.begin() + static_cast<std::ptrdiff_t>(at));
    for (const std::string& operand : arguments) {
        if (operand.starts_with("--")) {
            return UsageMistake{"the option " + operand +
                                " comes after the operands; options come first"};
        }
    }
    return std::nullopt;
}

// The mistake in options that do not go together, or with the task.
std::optional<UsageMistake> mismatchedOptions(const Command& command,
                                              const std::map<Flag, bool>& given) {
    const bool keyed = !command.privateKeyFile.empty();
    const auto has = [&given](Flag flag) { return given.contains(flag) && given.at(flag); };
    if (has(Flag::renew) && has(Flag::compare)) {
        return UsageMistake{"--renew and --compare do not go together"};
    }
    if (has(Flag::compare) &&
        (keyed || command.validDays || command.answerLifetime || has(Flag::forOlderUpdaters) ||
         has(Flag::replaceNewer) || has(Flag::replaceKey))) {
        return UsageMistake{"--compare signs and publishes nothing, so it takes no other option"};
    }
    if (has(Flag::renew) && !keyed) {
        return UsageMistake{"--renew needs --key: the answer is signed again with the "
                            "publisher's key"};
    }
    if (command.validDays && !keyed) {
        return UsageMistake{"--valid-days needs --key: only a signed answer expires"};
    }
    if (has(Flag::renew)) {
        for (const auto& [option, flag] : flags) {
            if (flag != Flag::renew && flag != Flag::compare && has(flag)) {
                return UsageMistake{
                    option + " is for publishing; --renew keeps what the served answer names"};
            }
        }
    }
    if (has(Flag::renew) && command.answerLifetime) {
        return UsageMistake{"--answer-lifetime is for publishing: it is written into the server "
                            "settings beside the published files, which --renew leaves alone"};
    }
    if (has(Flag::forOlderUpdaters) && !keyed) {
        return UsageMistake{"--for-older-updaters needs --key: it shapes the signed release line"};
    }
    return std::nullopt;
}

} // namespace

std::variant<Command, UsageMistake> readCommand(const std::vector<std::string>& arguments) {
    Command command;
    command.operands = arguments;
    std::map<Flag, bool> given;
    if (auto mistake = readOptions(command.operands, command, given)) {
        return *mistake;
    }
    if (auto mistake = mismatchedOptions(command, given)) {
        return *mistake;
    }
    command.task = given[Flag::renew]     ? Command::Task::renew
                   : given[Flag::compare] ? Command::Task::compare
                                          : Command::Task::publish;
    command.forOlderUpdaters = given[Flag::forOlderUpdaters];
    command.replaceNewer = given[Flag::replaceNewer];
    command.replaceKey = given[Flag::replaceKey];
    const std::size_t count = command.operands.size();
    switch (command.task) {
    case Command::Task::renew:
        if (count != 2) {
            return UsageMistake{"--renew takes OUTPUT_FOLDER VERSION, not " + operandsText(count)};
        }
        break;
    case Command::Task::compare:
        if (count != 2) {
            return UsageMistake{"--compare takes OLD_PACKAGE NEW_PACKAGE, not " +
                                operandsText(count)};
        }
        break;
    case Command::Task::publish:
        if (count != 3) {
            return UsageMistake{"publishing takes RELEASE_FOLDER VERSION OUTPUT_FOLDER, not " +
                                operandsText(count)};
        }
        break;
    }
    return command;
}

} // namespace publisher
