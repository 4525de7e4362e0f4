#pragma once

// What the benchmark programs share: timing a program to its end, medians,
// and the environment the offscreen window wants.

#include <string>
#include <sys/time.h>
#include <vector>

namespace bench {

struct Sample {
    double wall = 0; // seconds
    double cpu = 0;  // user + system seconds, the program's waited-for children included
    double rssMiB = 0;
};

double seconds(const timeval& t);

// Seconds on the monotonic clock, comparable between processes.
double now();

// Runs a program to its end, its output in outputFile; its wall time, CPU
// and peak memory. A program that fails stops the benchmark.
Sample run(const std::vector<std::string>& arguments, const std::string& outputFile);

double median(std::vector<double> values);

// The value after the command-line option name ("--rounds 5"), or fallback.
std::string option(int argc, char** argv, const std::string& name, const std::string& fallback);

// Offscreen Qt, with a private runtime folder under work so that Qt keeps
// quiet; for this process and every program it starts.
void useOffscreenWindows(const std::string& work);

// Whether the two files hold the same bytes.
bool sameFiles(const std::string& a, const std::string& b);

} // namespace bench
