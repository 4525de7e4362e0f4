#include "BenchSupport.h"

#include "testsupport/ChildProcess.h"
#include "testsupport/TempDir.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sched.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace bench {

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Sample run(const std::vector<std::string>& arguments, const std::string& outputFile,
           const testsupport::Environment& environment) {
    const double start = now();
    testsupport::ChildProcess child(arguments, outputFile, environment);
    const testsupport::ChildProcess::Ending ending = child.wait();
    if (!WIFEXITED(ending.status) || WEXITSTATUS(ending.status) != 0) {
        throw std::runtime_error(arguments[0] + " failed: " + testsupport::readFile(outputFile));
    }
    return Sample{now() - start, seconds(ending.usage.ru_utime) + seconds(ending.usage.ru_stime),
                  static_cast<double>(ending.usage.ru_maxrss) / 1024.0};
}

Sample runMeasured(const std::vector<std::string>& arguments, const std::string& workingFolder) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    Sample sample;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    }
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        sample.status = -1;
        return sample;
    }
    rusage usage{};
    wait4(child, &sample.status, 0, &usage);
    sample.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sample.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    sample.rssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return sample;
}

void makeFiles(const std::string& folder, int sizeMiB, int files) {
    std::mt19937_64 random(static_cast<std::uint64_t>(sizeMiB) * 7919u);
    const std::uint64_t total = static_cast<std::uint64_t>(sizeMiB) * 1024 * 1024;
    const std::uint64_t average = total / static_cast<std::uint64_t>(files);
    static const char* const words[] = {"morvane", "update",  "package", "version", "folder",
                                        "install", "archive", "entry",   "data",    "file"};
    std::string content;
    for (int i = 0; i < files; ++i) {
        const std::string sub = folder + "/d" + std::to_string(i % 40);
        std::filesystem::create_directories(sub);
        const std::uint64_t size = average / 2 + random() % average;
        content.clear();
        if (i % 2 == 0) {
            while (content.size() < size) {
                content.append(words[random() % 10]).push_back(random() % 12 == 0 ? '\n' : ' ');
            }
            content.resize(size);
        } else {
            content.resize(size);
            for (std::size_t k = 0; k + 8 <= content.size(); k += 8) {
                const std::uint64_t value = random();
                std::memcpy(&content[k], &value, 8);
            }
        }
        std::ofstream(sub + "/f" + std::to_string(i) + (i % 2 == 0 ? ".txt" : ".bin"),
                      std::ios::binary)
            << content;
    }
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string option(int argc, char** argv, const std::string& name, const std::string& fallback) {
    for (int i = 1; i + 1 < argc; i += 2) {
        if (argv[i] == name) {
            return argv[i + 1];
        }
    }
    return fallback;
}

int pinToProcessors(int count) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        throw std::runtime_error("cannot read the processors this process may use");
    }
    if (count <= 0 || count >= CPU_COUNT(&allowed)) {
        return CPU_COUNT(&allowed);
    }
    cpu_set_t chosen;
    CPU_ZERO(&chosen);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < count; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            CPU_SET(cpu, &chosen);
            ++taken;
        }
    }
    if (::sched_setaffinity(0, sizeof chosen, &chosen) != 0) {
        throw std::runtime_error("cannot pin the benchmark to " + std::to_string(count) +
                                 " processors");
    }
    return count;
}

std::vector<std::string> onOneProcessor(std::vector<std::string> command) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    int first = 0;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        while (first < CPU_SETSIZE - 1 && !CPU_ISSET(first, &allowed)) {
            ++first;
        }
    }
    command.insert(command.begin(), {"taskset", "-c", std::to_string(first)});
    return command;
}

int countOption(int argc, char** argv, const std::string& name, int fallback) {
    return std::max(1, std::stoi(option(argc, argv, name, std::to_string(fallback))));
}

std::uint64_t rateOption(int argc, char** argv) {
    return std::stoull(option(argc, argv, "--rate", "0")) * 1000 * 1000;
}

void useOffscreenWindows(const std::string& work) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string runtime = work + "/runtime";
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 0);
}

bool sameFiles(const std::string& a, const std::string& b) {
    std::ifstream left(a, std::ios::binary);
    std::ifstream right(b, std::ios::binary);
    // Kept between calls: comparing thousands of small files must not cost
    // two fresh megabytes each.
    static std::vector<char> x(1 << 20);
    static std::vector<char> y(1 << 20);
    for (;;) {
        left.read(x.data(), static_cast<std::streamsize>(x.size()));
        right.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (left.gcount() != right.gcount() ||
            std::memcmp(x.data(), y.data(), static_cast<std::size_t>(left.gcount())) != 0) {
            return false;
        }
        if (left.gcount() == 0) {
            return true;
        }
    }
}

} // namespace bench
