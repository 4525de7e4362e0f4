#pragma once

// Packages made by other tools for the tests of this folder: by Python's
// zipfile (stored and deflated entries, a folder, data descriptors, zip64)
// and by our zip library, with what Python's zipfile reads of them.

#include "delta/PackageDirectory.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace deltatest {

// Python's view of an archive's directory: its entries and where it starts.
struct Listing {
    std::vector<delta::DirectoryEntry> entries;
    std::uint64_t directoryOffset = 0;
};

// The kinds of package makePackage makes, for tests to run on each.
struct PackageKind {
    const char* name;
    std::string mode;
};
inline const PackageKind packageKinds[] = {{"PythonStoredAndDeflated", "plain"},
                                           {"PythonDataDescriptors", "descriptor"},
                                           {"PythonZip64", "zip64"},
                                           {"OurZipLibrary", "ours"}};

// Makes archive as mode says ("plain", "descriptor", "zip64" by Python's
// zipfile, "ours" by our zip library, the manifest stored in a first call
// and the rest deflated in a second) and lists it; scratch is a free path.
Listing makePackage(const std::string& mode, const std::string& archive,
                    const std::string& scratch);

// An entry as Python's zipfile reads it, its CRC-32 checked.
struct ReadEntry {
    std::string mode; // of its external attributes, octal
    std::uint64_t size = 0;
    std::string sha256; // lower-case hex
};
using ReadArchive = std::map<std::string, ReadEntry>;
// Each archive as Python's zipfile reads it, in the order given.
std::vector<ReadArchive> pythonRead(const std::vector<std::string>& archives,
                                    const std::string& scratch);

} // namespace deltatest
