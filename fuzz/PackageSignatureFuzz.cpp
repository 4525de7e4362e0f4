// The signature check on any downloaded file: the input is the package as
// it arrived, checked against the key that signed the seed package
// corpus/package_signature/signed for the offer 1.3.0. Besides crashes it
// checks that only a package exactly as signed is accepted: the checker
// must not be talked into a yes by any change the fuzzer makes.

#include "signature/PackageCheck.h"
#include "signature/SignatureError.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const char* const seedKey = "5OWWWWwurmCdzom7lES3M210ERqNUzhBcTTanwgk4Bc=";

std::string packagePath() {
    char folder[] = "/tmp/fuzz-signature-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::abort();
    }
    return std::string(folder) + "/morvane.zip";
}

std::string readSeed() {
    std::ifstream seed(FUZZ_SIGNED_SEED, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(seed), {});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = packagePath();
    static const signature::PublicKey key = *signature::publicKeyFromBase64(seedKey);
    static const std::string signedSeed = readSeed();
    const std::string package(reinterpret_cast<const char*>(data), size);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << package;
    try {
        const signature::PackageCheck check = signature::checkPackage(path, key, "1.3.0");
        if (check.accepted() && package != signedSeed) {
            std::abort();
        }
    } catch (const signature::SignatureError&) {
        // A file that cannot be read is reported, not a finding.
    }
    return 0;
}
