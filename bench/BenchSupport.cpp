#include "bench/BenchSupport.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>

namespace bench {

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Sample run(const std::vector<std::string>& arguments, const std::string& outputFile) {
    const double start = now();
    testsupport::ChildProcess child(arguments, outputFile);
    const testsupport::ChildProcess::Ending ending = child.wait();
    if (!WIFEXITED(ending.status) || WEXITSTATUS(ending.status) != 0) {
        throw std::runtime_error(arguments[0] + " failed: " + testsupport::readFile(outputFile));
    }
    return Sample{now() - start, seconds(ending.usage.ru_utime) + seconds(ending.usage.ru_stime),
                  static_cast<double>(ending.usage.ru_maxrss) / 1024.0};
}

double median(std::vector<double> values) {
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
    std::vector<char> x(1 << 20);
    std::vector<char> y(1 << 20);
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
