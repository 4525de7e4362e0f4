#include "publisher/KeysCommand.h"

#include "ServedFolder.h"
#include "ServedKeys.h"
#include "publisher/PublishError.h"
#include "signature/KeysLine.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "signature/SignatureError.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <filesystem>

namespace publisher {

const char* const keysUsage =
    "usage: morvane-publish --make-keys --root ROOT_KEY_FILE [--root ...] --threshold N\n"
    "                       [--valid-days N] [--new-root FILE ... --new-threshold N]\n"
    "                       OUTPUT_FOLDER RELEASE_PUBLIC_KEY [RELEASE_PUBLIC_KEY ...]\n";

namespace {

constexpr int mostKeysValidDays = 3660;
constexpr std::int64_t secondsPerDay = 24 * 60 * 60;

std::optional<std::uint32_t> count(const std::string& value) {
    std::uint32_t number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size() || number == 0) {
        return std::nullopt;
    }
    return number;
}

// One option and its value into the command; the mistake when it is not.
std::optional<UsageMistake> takeOption(const std::string& option, const std::string& value,
                                       KeysCommand& command) {
    if (option == "--root" || option == "--new-root") {
        (option == "--root" ? command.rootKeyFiles : command.newRootKeyFiles).push_back(value);
        return std::nullopt;
    }
    const auto number = count(value);
    if (!number) {
        return UsageMistake{option + " takes a whole number from 1, not \"" + value + "\""};
    }
    if (option == "--threshold") {
        command.threshold = *number;
    } else if (option == "--new-threshold") {
        command.newThreshold = *number;
    } else if (option == "--valid-days" && *number <= mostKeysValidDays) {
        command.validDays = static_cast<int>(*number);
    } else {
        return UsageMistake{"--valid-days takes 1 to " + std::to_string(mostKeysValidDays) +
                            " days, not \"" + value + "\""};
    }
    return std::nullopt;
}

std::vector<const signature::SigningKey*>
pointersTo(const std::vector<signature::SigningKey>& keys) {
    std::vector<const signature::SigningKey*> pointers;
    for (const auto& key : keys) {
        pointers.push_back(&key);
    }
    return pointers;
}

std::vector<signature::SigningKey> loadKeys(const std::vector<std::string>& files) {
    std::vector<signature::SigningKey> keys;
    for (const std::string& file : files) {
        try {
            keys.push_back(signature::SigningKey::fromFile(file));
        } catch (const signature::SignatureError& failure) {
            throw PublishError(failure.what());
        }
    }
    return keys;
}

signature::RootSet setOf(std::uint64_t number, const std::vector<signature::SigningKey>& keys,
                         std::uint32_t threshold, const char* option) {
    signature::RootSet set{number, {}, threshold};
    for (const auto& key : keys) {
        if (std::find(set.keys.begin(), set.keys.end(), key.publicKey()) == set.keys.end()) {
            set.keys.push_back(key.publicKey());
        }
    }
    if (set.keys.size() < threshold) {
        throw PublishError("the keys line needs " + std::to_string(threshold) +
                           " signatures by distinct root keys, and " +
                           std::to_string(set.keys.size()) + " were given (" + option + ")");
    }
    return set;
}

// The line signed, checked as an updater trusting roots checks it, written.
void writeChecked(signature::KeysLine line, const std::vector<const signature::SigningKey*>& by,
                  const signature::RootSet& roots, const std::string& path, bool rotation) {
    signature::signKeysLine(line, by);
    const std::string text = signature::formatKeysLine(line);
    const signature::KeysCheck check = rotation ? signature::checkRotation(text, roots)
                                                : signature::checkKeysLine(text, roots, 0, 0);
    if (!check.trusted()) {
        throw PublishError("the keys line would not be trusted: " + check.description);
    }
    writeServedText(path, text + "\n");
}

} // namespace

std::variant<KeysCommand, UsageMistake> readKeysCommand(const std::vector<std::string>& arguments) {
    KeysCommand command;
    std::size_t at = 0;
    for (; at < arguments.size() && arguments[at].starts_with("--"); at += 2) {
        const std::string& option = arguments[at];
        if (option != "--root" && option != "--new-root" && option != "--threshold" &&
            option != "--new-threshold" && option != "--valid-days") {
            return UsageMistake{"there is no option " + option + " for --make-keys"};
        }
        if (at + 1 == arguments.size()) {
            return UsageMistake{option + " needs a value after it"};
        }
        if (auto mistake = takeOption(option, arguments[at + 1], command)) {
            return *mistake;
        }
    }
    if (command.rootKeyFiles.empty() || command.threshold == 0) {
        return UsageMistake{"--make-keys needs the root key files (--root) and how many must "
                            "sign (--threshold)"};
    }
    if (command.newRootKeyFiles.empty() != (command.newThreshold == 0)) {
        return UsageMistake{"--new-root and --new-threshold go together"};
    }
    if (arguments.size() - at < 2) {
        return UsageMistake{"--make-keys takes OUTPUT_FOLDER and at least one release key"};
    }
    command.outputFolder = arguments[at];
    command.releaseKeys.assign(arguments.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                               arguments.end());
    return command;
}

void makeKeys(const KeysCommand& command, std::ostream& report) {
    const std::string served = servedFolderOf(command.outputFolder);
    std::filesystem::create_directories(served);
    const std::optional<signature::KeysLine> current = servedKeysLine(served);
    signature::KeysLine line;
    line.serial = current ? current->serial + 1 : 1;
    line.rootSet = current ? current->rootSet : 1;
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    line.expires = now + command.validDays * secondsPerDay;
    line.issued = now;
    for (const std::string& text : command.releaseKeys) {
        const auto key = signature::publicKeyFromBase64(text);
        if (!key) {
            throw PublishError("the release key \"" + text +
                               "\" is not the base64 text of an "
                               "Ed25519 public key");
        }
        line.releaseKeys.push_back(*key);
    }
    const auto roots = loadKeys(command.rootKeyFiles);
    const signature::RootSet rootSet = setOf(line.rootSet, roots, command.threshold, "--root");
    if (command.newRootKeyFiles.empty()) {
        writeChecked(line, pointersTo(roots), rootSet, served + "/" + keysFileName, false);
        report << "keys line serial " << line.serial << " under root set " << line.rootSet
               << ", valid until " << signature::formatUtcTime(line.expires) << ", in " << served
               << "/" << keysFileName << "; publish or --renew to serve it\n";
        return;
    }
    // A rotation: the chain's line signed by both sets, then the keys line
    // under the new set alone.
    const auto newRoots = loadKeys(command.newRootKeyFiles);
    line.newRoots = setOf(line.rootSet + 1, newRoots, command.newThreshold, "--new-root");
    std::vector<const signature::SigningKey*> both = pointersTo(roots);
    for (const auto* key : pointersTo(newRoots)) {
        both.push_back(key);
    }
    const std::string chainLine = served + "/rootset-" + std::to_string(line.rootSet + 1) + ".txt";
    writeChecked(line, both, rootSet, chainLine, true);
    signature::KeysLine next = line;
    next.serial = line.serial + 1;
    next.rootSet = line.rootSet + 1;
    next.newRoots.reset();
    writeChecked(next, pointersTo(newRoots), *line.newRoots, served + "/" + keysFileName, false);
    report << "root set " << next.rootSet << " in " << chainLine << "; keys line serial "
           << next.serial << " under it, valid until " << signature::formatUtcTime(next.expires)
           << ", in " << served << "/" << keysFileName << "; publish or --renew to serve it\n";
}

} // namespace publisher
