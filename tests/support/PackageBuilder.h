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

// A zip archive made by 7z with the traditional zip encryption.
void buildEncryptedPackage(const std::string& archive, const std::vector<PackageEntry>& entries,
                           const std::string& password);

} // namespace testsupport
