#pragma once

// What the archive benchmarks share: running a program measured, the tree
// of files they pack and unpack, and the median of the rounds.

#include <string>
#include <vector>

namespace bench {

constexpr double mebi = 1024.0 * 1024.0;

struct Sample {
    double wall = 0;
    double rssMiB = 0;
    int status = 0;
};

// Runs a program (no shell) and reports its wall time and peak memory.
Sample runMeasured(const std::vector<std::string>& arguments,
                   const std::string& workingFolder = {});

// sizeMiB of files in 40 folders: text of common words, and bytes that do not
// compress, in equal shares. The same tree for the same size and count.
void makeFiles(const std::string& folder, int sizeMiB, int files);

double median(std::vector<double> values);

} // namespace bench
