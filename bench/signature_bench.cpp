// Times the publisher's signature check of a downloaded package against
// `openssl dgst -sha512` reading the same file, alternating the two in one
// run: the check reads the package once, so it should cost about one digest
// of it. The package is a zip of a tree of text and incompressible files,
// signed with a key made by the openssl command. Prints medians, their
// ratio, and the check's time against the package's download at 100 MB/s.
// Then the check as the updater makes it, on the bytes as they arrive: the
// time the two digests take while the bytes come in (hidden behind the
// download) and the time of the checks after the last byte, which is what
// the user waits for.
// Last, what a root build adds to the version check: the keys line with
// five release keys and three root signatures checked against three roots
// (two needed), beside the release line's own check, and their size.
//
//   signature_bench [--size 256] [--rounds 5]

#include "BenchSupport.h"
#include "signature/ArrivingPackage.h"
#include "signature/Base64.h"
#include "signature/KeysLine.h"
#include "signature/PackageCheck.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t checkedAt = 1'796'731'200;

// The median time of one call of check, over many.
template <typename Check> double perCall(int rounds, Check check) {
    constexpr int calls = 200;
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        const double start = bench::now();
        for (int i = 0; i < calls; ++i) {
            check();
        }
        times.push_back((bench::now() - start) / calls);
    }
    return bench::median(times);
}

bool keysLineFigures(const testsupport::TempDir& work, int rounds) {
    std::vector<signature::SigningKey> keys;
    for (int i = 0; i < 8; ++i) {
        keys.push_back(signature::SigningKey::fromFile(
            testsupport::makePublisherKey(work / ("k" + std::to_string(i) + ".pem"))
                .privateKeyFile));
    }
    const signature::RootSet roots{
        1, {keys[0].publicKey(), keys[1].publicKey(), keys[2].publicKey()}, 2};
    signature::KeysLine line{7, 1, checkedAt + 365 * 86400, {}, {}, {}, {}};
    for (int i = 3; i < 8; ++i) {
        line.releaseKeys.push_back(keys[i].publicKey());
    }
    signature::signKeysLine(line, {&keys[0], &keys[1], &keys[2]});
    const std::string keysText = signature::formatKeysLine(line);
    signature::PackageDigest digest{};
    const std::string answer =
        "1.3.0\r\n" +
        signature::formatReleaseLine(signature::signRelease(
            "1.3.0", 1 << 28, digest, checkedAt + 86400, keys[3], std::nullopt, std::nullopt,
            {{"keys",
              signature::encodeBase64(reinterpret_cast<const std::uint8_t*>(keysText.data()),
                                      keysText.size())}}));
    bool trusted = true;
    const double keysCheck = perCall(rounds, [&] {
        trusted = trusted && signature::checkKeysLine(keysText, roots, 0, checkedAt).trusted();
    });
    const double releaseCheck = perCall(rounds, [&] {
        trusted = trusted &&
                  signature::checkVersionAnswer(answer, keys[3].publicKey(), checkedAt).verified();
    });
    if (!trusted) {
        std::fprintf(stderr, "signature_bench: the keys line or release line was refused\n");
        return false;
    }
    std::printf("keys line (5 release keys, 3 root signatures, 2 needed): %zu bytes, checked in "
                "%.3f ms\n",
                keysText.size(), 1000.0 * keysCheck);
    std::printf("release line check %.3f ms; keys line / release line  %.2f\n",
                1000.0 * releaseCheck, keysCheck / releaseCheck);
    std::printf("version answer carrying the keys line in its release line: %zu bytes\n",
                answer.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int sizeMiB = std::stoi(bench::option(argc, argv, "--size", "256"));
    const int rounds = std::stoi(bench::option(argc, argv, "--rounds", "5"));
    testsupport::TempDir work;
    bench::makeFiles(work / "tree", sizeMiB, 200);
    const std::string package = work / "morvane.zip";
    const std::string pack =
        "cd '" + work / "tree" + "' && bsdtar --format=zip -cf '" + package + "' .";
    if (std::system(pack.c_str()) != 0) {
        std::fprintf(stderr, "signature_bench: cannot pack the tree\n");
        return 1;
    }
    const auto key = testsupport::makePublisherKey(work / "key.pem");
    signature::signPackage(package, signature::SigningKey::fromFile(key.privateKeyFile), "1.3.0");
    const auto publicKey = *signature::publicKeyFromBase64(key.publicKeyBase64);
    const double packageMiB =
        static_cast<double>(std::filesystem::file_size(package)) / bench::mebi;

    std::vector<double> checks;
    std::vector<double> digests;
    for (int round = 0; round < rounds; ++round) {
        const double start = bench::now();
        if (!signature::checkPackage(package, publicKey, "1.3.0").accepted()) {
            std::fprintf(stderr, "signature_bench: the signed package was refused\n");
            return 1;
        }
        checks.push_back(bench::now() - start);
        digests.push_back(
            bench::run({"openssl", "dgst", "-sha512", "-out", work / "digest", package},
                       work / "openssl.out")
                .wall);
    }
    // The package in memory, handed over in the download's 1 KiB chunks.
    std::ifstream input(package, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(input)),
                            std::istreambuf_iterator<char>());
    std::vector<double> arriving;
    std::vector<double> afterLast;
    for (int round = 0; round < rounds; ++round) {
        signature::ArrivingPackage arrived;
        const double start = bench::now();
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        for (std::size_t at = 0; at < bytes.size(); at += 1024) {
            arrived.add(data + at, std::min<std::size_t>(1024, bytes.size() - at));
        }
        const double last = bench::now();
        const signature::PackageDigest whole = arrived.digest();
        const bool accepted = arrived.check(publicKey, "1.3.0").accepted();
        afterLast.push_back(bench::now() - last);
        arriving.push_back(last - start);
        if (!accepted || whole == signature::PackageDigest{}) {
            std::fprintf(stderr, "signature_bench: the arrived package was refused\n");
            return 1;
        }
    }
    const double check = bench::median(checks);
    const double digest = bench::median(digests);
    const double download = packageMiB * bench::mebi / 100e6;
    std::printf("package %.1f MiB, %d rounds (medians)\n", packageMiB, rounds);
    std::printf("signature check        %.3f s  (%.0f MiB/s)\n", check, packageMiB / check);
    std::printf("openssl dgst -sha512   %.3f s  (%.0f MiB/s)\n", digest, packageMiB / digest);
    std::printf("ratio check / openssl  %.2f\n", check / digest);
    std::printf("check / download at 100 MB/s (%.2f s)  %.1f %%\n", download,
                100.0 * check / download);
    std::printf("as it arrives: both digests while the bytes come in  %.3f s  (%.1f %% of the "
                "download at 100 MB/s)\n",
                bench::median(arriving), 100.0 * bench::median(arriving) / download);
    std::printf("as it arrives: the checks after the last byte        %.2f ms\n",
                1000.0 * bench::median(afterLast));
    return keysLineFigures(work, rounds) ? 0 : 1;
}
