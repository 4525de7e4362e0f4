// What cutting an installed file into chunks costs an update, against
// reading it: the chunks and their SHA-256 as the update takes them
// (delta::chunksOfOpenFile), the SHA-256 of the whole file as the update
// already takes it to know whether the file changed, and two peers run on
// the same file in the same rounds: `cat FILE > /dev/null` (reading it) and
// `sha256sum FILE`. Medians of alternating rounds, the file in the page
// cache.
//
//   chunk_bench [--size 100] [--rounds 5]

#include "BenchSupport.h"
#include "delta/FileChunks.h"
#include "delta/Sha256.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/TempDir.h"

#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

template <typename Work> double timed(Work work) {
    const double start = bench::now();
    work();
    return bench::now() - start;
}

int measure(int sizeMiB, int rounds) {
    testsupport::TempDir work;
    const std::string path = work / "large.bin";
    testsupport::writeFile(path, testsupport::halfTextHalfRandom(std::size_t(sizeMiB) << 20, 3));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<double> chunking, hashing, cat, sha256sum;
    std::size_t chunks = 0;
    for (int round = 0; round < rounds + 1; ++round) {
        const double c =
            timed([&] { chunks = delta::chunksOfOpenFile(fd, path, {}, [] {}).size(); });
        const double h = timed([&] { (void)delta::sha256OfOpenFile(fd, path); });
        const double r =
            bench::run({"/bin/sh", "-c", "cat \"$0\" > /dev/null", path}, work / "cat.out").wall;
        const double s = bench::run({"sha256sum", path}, work / "sum.out").wall;
        if (round > 0) { // the first round warms the page cache
            chunking.push_back(c);
            hashing.push_back(h);
            cat.push_back(r);
            sha256sum.push_back(s);
        }
    }
    ::close(fd);
    const double c = bench::median(chunking);
    std::printf("%d MiB, %zu distinct chunks; medians of %d rounds, the file cached\n", sizeMiB,
                chunks, rounds);
    std::printf("%-34s %8s %10s\n", "", "s", "MiB/s");
    for (const auto& [name, value] : {std::pair{"chunks and their SHA-256", c},
                                      {"SHA-256 of the file", bench::median(hashing)},
                                      {"cat FILE > /dev/null", bench::median(cat)},
                                      {"sha256sum FILE", bench::median(sha256sum)}}) {
        std::printf("%-34s %8.3f %10.0f\n", name, value, sizeMiB / value);
    }
    std::printf("chunking against: the update's own SHA-256 %.2f, cat %.2f, sha256sum %.2f\n",
                c / bench::median(hashing), c / bench::median(cat), c / bench::median(sha256sum));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return measure(bench::countOption(argc, argv, "--size", 100),
                       bench::countOption(argc, argv, "--rounds", 5));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "chunk_bench: %s\n", failure.what());
        return 1;
    }
}
