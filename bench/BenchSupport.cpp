#include "BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace bench {

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
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace bench
