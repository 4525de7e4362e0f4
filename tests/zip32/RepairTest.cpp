// Repairing an archive from its local headers while its entries are read
// through on worker threads: the same entries kept, and the same said of
// each left out, in the same order, as one entry at a time.
#include "testsupport/OneProcessor.h"
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "zip32test/ZipHarness.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

namespace zip32test {
namespace {

// Local headers only (the central directories cut off): entries stored and
// deflated, a zip stored inside one, and one whose sizes follow its data.
const char* const makeArchive = R"(
import io, random, sys, zipfile
class Unseekable(io.RawIOBase):
    def __init__(self, into): self.into = into
    def writable(self): return True
    def write(self, data): return self.into.write(data)
def localPart(entries, seekable=True):
    into = io.BytesIO()
    with zipfile.ZipFile(into if seekable else Unseekable(into), 'w') as archive:
        for name, data, method in entries:
            archive.writestr(zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6)), data, compress_type=method)
    data = into.getvalue()
    end = data.rfind(b'PK\x05\x06')
    return data[:int.from_bytes(data[end + 16:end + 20], 'little')]
def whole(entries):
    into = io.BytesIO()
    with zipfile.ZipFile(into, 'w') as archive:
        for name, data, method in entries:
            archive.writestr(name, data, compress_type=method)
    return into.getvalue()
rnd = random.Random(7)
def content(i):
    size = rnd.randrange(1000, 200000)
    return bytes(rnd.randrange(256) for _ in range(size // 8)) * 8 if i % 3 else b'line\n' * (size // 5)
first = [('e%02d.bin' % i, content(i), zipfile.ZIP_DEFLATED if i % 2 else zipfile.ZIP_STORED) for i in range(14)]
inner = whole([('in/a.txt', b'a' * 3000, zipfile.ZIP_DEFLATED), ('in/b.txt', b'b' * 10, zipfile.ZIP_STORED)])
later = [('late.txt', b'sizes after the data\n' * 900, zipfile.ZIP_DEFLATED)]
last = [('f%02d.bin' % i, content(i), zipfile.ZIP_DEFLATED if i % 2 else zipfile.ZIP_STORED) for i in range(10)]
open(sys.argv[1], 'wb').write(localPart(first + [('inner.zip', inner, zipfile.ZIP_STORED)]) + localPart(later, False) + localPart(last))
)";

// The offset of the local header that names name.
std::size_t headerOf(const std::string& archive, const std::string& name) {
    const std::size_t at = archive.find("PK\x03\x04", 0);
    for (std::size_t header = at; header != std::string::npos;
         header = archive.find("PK\x03\x04", header + 4)) {
        if (archive.compare(header + 30, name.size(), name) == 0) {
            return header;
        }
    }
    ADD_FAILURE() << name;
    return 0;
}

// The entries the printed warnings leave out, in the order said.
std::vector<std::string> namesLeftOut(const std::string& printed) {
    std::vector<std::string> names;
    const std::string warning = "zip warning: ";
    for (std::size_t at = printed.find(warning); at != std::string::npos;
         at = printed.find(warning, at + 1)) {
        const std::size_t end = printed.find('\n', at);
        const std::string line = printed.substr(at, end - at);
        if (line.ends_with("left out")) {
            names.push_back(
                line.substr(warning.size(), line.find(": ", warning.size()) - warning.size()));
        }
    }
    return names;
}

TEST(Zip32Repair, WorkerThreadsKeepAndReportExactlyWhatOneAtATimeDoes) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"x.txt", "x"}});
    unzip32test::runTool({"python3", "-c", makeArchive, temp / "sound.zip"});
    std::string damaged = testsupport::readFile(temp / "sound.zip");
    // Damaged data in two entries side by side and in a third; one entry
    // flagged encrypted; the inner zip's own directory damaged, so that its
    // entries are found once the outer one fails.
    for (const char* name : {"e05.bin", "e06.bin", "f03.bin"}) {
        damaged[headerOf(damaged, name) + 30 + 7 + 100] ^= 0x5a;
    }
    damaged[headerOf(damaged, "e10.bin") + 6] |= 0x01;
    const std::size_t innerDirectory = damaged.find("PK\x01\x02", headerOf(damaged, "inner.zip"));
    ASSERT_NE(innerDirectory, std::string::npos);
    damaged[innerDirectory + 16] ^= 0x01;

    std::map<std::string, std::string> kept[2];
    std::string printed[2];
    for (int turn = 0; turn < 2; ++turn) {
        const std::string archive = temp / ("p" + std::to_string(turn) + ".zip");
        testsupport::writeFile(archive, damaged);
        ZipCall call;
        call.options.repairArchive = 1;
        {
            std::optional<testsupport::OneProcessor> one;
            if (turn == 0) {
                one.emplace();
            }
            ASSERT_EQ(call.run(archive, temp / "root", {}), ZP_OK) << call.printed;
        }
        kept[turn] = archiveEntries(archive);
        printed[turn] = call.printed;
    }
    EXPECT_EQ(printed[1], printed[0]);
    EXPECT_EQ(kept[1], kept[0]);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : kept[1]) {
        names.push_back(name);
    }
    const std::vector<std::string> expected = {
        "e00.bin", "e01.bin", "e02.bin", "e03.bin", "e04.bin",  "e07.bin",  "e08.bin", "e09.bin",
        "e11.bin", "e12.bin", "e13.bin", "f00.bin", "f01.bin",  "f02.bin",  "f04.bin", "f05.bin",
        "f06.bin", "f07.bin", "f08.bin", "f09.bin", "in/a.txt", "in/b.txt", "late.txt"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(kept[1]["late.txt"].size(), 21u * 900);
    // Each entry left out is said once, in the archive's order.
    const std::vector<std::string> leftOut = {"e05.bin", "e06.bin", "e10.bin", "inner.zip",
                                              "f03.bin"};
    EXPECT_EQ(namesLeftOut(printed[1]), leftOut) << printed[1];
}

} // namespace
} // namespace zip32test
