#pragma once

// What the benchmark programs share: running a program measured, the tree
// of files the archive benchmarks pack and unpack, medians, and the
// environment the offscreen window wants.

#include "testsupport/ChildProcess.h"

#include <cstdint>
#include <string>
#include <sys/time.h>
#include <vector>

namespace bench {

constexpr double mebi = 1024.0 * 1024.0;

struct Sample {
    double wall = 0; // seconds
    double cpu = 0;  // user + system seconds, the program's waited-for children included
    double rssMiB = 0;
    int status = 0;
};

double seconds(const timeval& t);

// Seconds on the monotonic clock, comparable between processes.
double now();

// Runs a program to its end, its output in outputFile, its environment
// changed as given; its wall time, CPU and peak memory. A program that
// fails stops the benchmark.
Sample run(const std::vector<std::string>& arguments, const std::string& outputFile,
           const testsupport::Environment& environment = {});

// Runs a program (no shell) in the working folder and reports its wall time,
// CPU, peak memory and exit status, whatever it is.
Sample runMeasured(const std::vector<std::string>& arguments,
                   const std::string& workingFolder = {});

// sizeMiB of files in 40 folders: text of common words, and bytes that do not
// compress, in equal shares. The same tree for the same size and count.
void makeFiles(const std::string& folder, int sizeMiB, int files);

// The middle value (the mean of the two middle ones for an even count); 0
// for none.
double median(std::vector<double> values);

// The value after the command-line option name ("--rounds 5"), or fallback.
std::string option(int argc, char** argv, const std::string& name, const std::string& fallback);
// Pins this process, and every program it starts, to the first count of the
// processors it may run on (all of them for 0); returns how many it has.
int pinToProcessors(int count);
// The command, run on one of the processors this process has.
std::vector<std::string> onOneProcessor(std::vector<std::string> command);

// A count option ("--rounds 5"): at least 1, fallback when not given.
int countOption(int argc, char** argv, const std::string& name, int fallback);
// "--rate MBps" as bytes per second; 0, the default, is unlimited.
std::uint64_t rateOption(int argc, char** argv);

// Offscreen Qt, with a private runtime folder under work so that Qt keeps
// quiet; for this process and every program it starts.
void useOffscreenWindows(const std::string& work);

// Whether the two files hold the same bytes.
bool sameFiles(const std::string& a, const std::string& b);

} // namespace bench
