#include "testsupport/PublisherKey.h"

#include "testsupport/TempDir.h"

#include <cstdlib>
#include <stdexcept>

namespace testsupport {

PublisherKey makePublisherKey(const std::string& privateKeyFile) {
    const std::string publicFile = privateKeyFile + ".pub64";
    const std::string command =
        "openssl genpkey -algorithm ed25519 -out '" + privateKeyFile + "' && openssl pkey -in '" +
        privateKeyFile + "' -pubout -outform DER | tail -c 32 | base64 > '" + publicFile + "'";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
    std::string publicKey = readFile(publicFile);
    while (!publicKey.empty() && (publicKey.back() == '\n' || publicKey.back() == '\r')) {
        publicKey.pop_back();
    }
    return {privateKeyFile, publicKey};
}

} // namespace testsupport
