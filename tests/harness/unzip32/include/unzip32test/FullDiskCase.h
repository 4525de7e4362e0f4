#pragma once

#include "unzip32test/UnzipHarness.h"

#include <string>

namespace unzip32test {

// The archive the full-disk tests unpack, made in folder: a small entry, a
// stored one of 3 MiB that does not fit in the 1 MiB left, and a small entry
// after it.
std::string fullDiskArchive(const std::string& folder);

// Unpacks the archive into out, where the disk fills up, and checks that the
// job stopped cleanly at the large entry: UZP_DISK_FULL, the first entry in
// place, nothing of the large one, the last one never tried.
void expectStoppedByTheFullDisk(const std::string& archive, const std::string& out);

} // namespace unzip32test
