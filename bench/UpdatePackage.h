#pragma once

// The package the whole-update benchmarks install, the installation they
// start from each turn, and the check that a turn ended updated.

#include <string>

namespace bench {

// The package holds updater.ini and fileCount files of sizeMiB random bytes
// in all, deflated by Python's zipfile, every file moved into the
// installation folder; the files are left beside it in files.
void makePackage(const std::string& archive, const std::string& files, int sizeMiB, int fileCount);

// The name of the package's file number index.
std::string packageFileName(int index);

// An installation with an older Morvane, nothing else, and no other left
// from an earlier turn: each turn finds the disk as the one before it did,
// done with what earlier turns wrote.
void freshInstallation(const std::string& folder, const std::string& other);

// Every file of the package in place, the temp folder gone.
bool updated(const std::string& folder, const std::string& files, int fileCount);

// Signs the package in published for version 9.9.9 and writes the signed
// answer for it beside it; the public key, for the program's build.
std::string signPublication(const std::string& published, const std::string& keyFile);

} // namespace bench
