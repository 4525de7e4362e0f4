#pragma once

#include <string>

namespace testsupport {

// A publisher's key pair made the way a publisher makes it:
//   openssl genpkey -algorithm ed25519 -out <privateKeyFile>
// and its public key read as the build takes it:
//   openssl pkey -in <privateKeyFile> -pubout -outform DER | tail -c 32 | base64
struct PublisherKey {
    std::string privateKeyFile;
    std::string publicKeyBase64;
};

PublisherKey makePublisherKey(const std::string& privateKeyFile);

} // namespace testsupport
