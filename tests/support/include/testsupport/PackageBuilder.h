#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct PackageEntry {
    std::string name; // as stored, folders included ("folder/updater.ini")
    std::string content;
};

// A zip archive made by Python's zipfile, deflated, entries in the order
// given; one name may appear twice.
void buildPackage(const std::string& archive, const std::vector<PackageEntry>& entries);

enum class Encryption { traditional, aes256 };

// A zip archive made by 7z, every entry encrypted with the password.
void buildEncryptedPackage(const std::string& archive, const std::vector<PackageEntry>& entries,
                           const std::string& password,
                           Encryption encryption = Encryption::traditional);

} // namespace testsupport
