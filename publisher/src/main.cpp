// morvane-publish: makes what the web server serves for an update of
// Morvane from a release folder.

#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"
#include "platform/console/ConsoleToolkit.h"
#include "platform/files/ExecutableFolder.h"
#include "publisher/Publication.h"
#include "publisher/PublishError.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

using publisher::publish;
using publisher::PublishError;
using publisher::PublishRequest;

namespace {

const char* const usage =
    "usage: morvane-publish [--key PRIVATE_KEY_FILE] RELEASE_FOLDER VERSION OUTPUT_FOLDER\n"
    "\n"
    "Packs RELEASE_FOLDER (its files and folders as they should lie in the\n"
    "installation folder) into OUTPUT_FOLDER/clientfiles/morvane/morvane.zip and\n"
    "writes VERSION (three numbers, such as 1.3.0) to\n"
    "OUTPUT_FOLDER/clientfiles/morvane/version.php. A release without its own\n"
    "updater.ini gets one that creates its folders and moves every file into\n"
    "place. With --key, the package carries the signature of that Ed25519\n"
    "private key (openssl genpkey -algorithm ed25519 -out key.pem) for VERSION,\n"
    "which an updater built with the matching public key insists on. The\n"
    "package is tested before either served file is replaced.\n";

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
        std::cout << usage;
        return 0;
    }
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string privateKeyFile;
    if (arguments.size() == 5 && arguments[0] == "--key") {
        privateKeyFile = arguments[1];
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }
    if (arguments.size() != 3 || arguments[0] == "--key") {
        std::cerr << usage;
        return 2;
    }
    platform::ConsoleToolkit toolkit(std::cerr);
    toolkit.setAppTitle("morvane-publish");
    try {
        // The two libraries lie beside the tool.
        CodeModule::setLibraryFolder(platform::executableFolder());
        CodeModule::useToolkit(toolkit);
        publish(PublishRequest{arguments[0], arguments[1], arguments[2], privateKeyFile}, toolkit,
                std::cout);
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
