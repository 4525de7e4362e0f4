// The times installed files get when only the changed files are fetched:
// the published ones, which the signed answer vouches for through the
// package's directory, whatever the fetched local headers say, and the same
// as the whole package gives; a directory that is not the signed one brings
// the whole package.
#include "ChangedFilesFixture.h"
#include "LargeFiles.h"

#include "testsupport/CaseName.h"
#include "zipformat/Directory.h"
#include "zipformat/EntryTime.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

namespace {

constexpr std::int64_t publishedAt = 1'750'000'000;
constexpr std::uint32_t otherTime = 86'400; // 1970-01-02

void setTime(const std::string& path, std::int64_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::int64_t timeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mtime;
}

// Every extended timestamp in the extra field at extra set to otherTime.
void changeTimestamps(unsigned char* extra, std::size_t length) {
    zipformat::forEachExtraField(std::span(extra, length),
                                 [](std::uint16_t id, std::span<const unsigned char> data) {
                                     if (id == zipformat::extendedTimestampId && data.size() >= 5) {
                                         auto* field = const_cast<unsigned char*>(data.data());
                                         zipformat::writeLittleEndian(field + 1, otherTime, 4);
                                     }
                                 });
}

// The package with every local header's times changed: what a server could
// send for the entries' spans.
std::string otherLocalTimes(std::string package, const delta::PackageDirectory& directory) {
    auto* bytes = reinterpret_cast<unsigned char*>(package.data());
    for (const delta::DirectoryEntry& entry : directory.entries) {
        unsigned char* header = bytes + entry.localHeaderOffset;
        constexpr std::size_t localTimeAt = 10;
        zipformat::writeLittleEndian(header + localTimeAt, 0x21'0000, 4);
        changeTimestamps(header + zipformat::localHeaderSize +
                             zipformat::read16(header + zipformat::localNameLengthAt),
                         zipformat::read16(header + zipformat::localExtraLengthAt));
    }
    return package;
}

// The package with every central record's times changed.
std::string otherDirectoryTimes(std::string package, const delta::PackageDirectory& directory) {
    auto* bytes = reinterpret_cast<unsigned char*>(package.data());
    for (const delta::DirectoryEntry& entry : directory.entries) {
        unsigned char* record = bytes + entry.recordOffset;
        zipformat::writeLittleEndian(record + zipformat::centralTimeAt, 0x21'0000, 4);
        changeTimestamps(record + zipformat::centralHeaderSize +
                             zipformat::read16(record + zipformat::centralNameLengthAt),
                         zipformat::read16(record + zipformat::centralExtraLengthAt));
    }
    return package;
}

struct Served {
    const char* name;
    // What range requests get instead of the package; empty: every range
    // is refused.
    std::function<std::string(const std::string&, const delta::PackageDirectory&)> ranges;
    bool wholePackage;
};

const std::vector<Served> serves = {
    {"LocalHeadersWithOtherTimes", otherLocalTimes, false},
    {"DirectoryWithOtherTimes", otherDirectoryTimes, true},
    {"RangesRefused", nullptr, true},
};

class EntryTimes : public ChangedFilesRun, public ::testing::WithParamInterface<Served> {};

TEST_P(EntryTimes, AreThePublishedOnes) {
    const LargeChange big = oneByteChanged(std::size_t{1} << 20);
    const std::map<std::string, std::string> before = {{"data/big.bin", big.before},
                                                       {"readme.txt", "1.3.1"}};
    const std::map<std::string, std::string> after = {{"data/big.bin", big.after},
                                                      {"readme.txt", "1.3.2"}};
    install(before);
    // Written, then dated: the tool packs each file's time.
    writeRelease(after);
    const std::vector<std::string> paths = {"morvane.exe", "readme.txt", "data/big.bin"};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        setTime(releaseFolder + "/" + paths[i], publishedAt + 1000 * static_cast<int>(i));
        setTime(installFolder + "/" + paths[i], publishedAt - 5000);
    }
    publishWritten();
    const std::string served =
        GetParam().ranges ? GetParam().ranges(packageBytes(), package().directory) : "";
    web.change = [&](const testsupport::ScriptedRequest& request,
                     testsupport::ScriptedAnswer& answer) {
        if (request.url != packageUrl || !request.first || !request.last) {
            return;
        }
        if (served.empty()) {
            answer.status = 200;
            answer.headers.erase("content-range");
            answer.body = packageBytes();
        } else {
            answer.body = served.substr(*request.first, answer.body.size());
        }
    };

    ASSERT_TRUE(runUpdate()) << testsupport::readFile(installFolder + "/NoteError.txt");
    EXPECT_EQ(wholePackageAsked(), GetParam().wholePackage);
    EXPECT_EQ(installed("data/big.bin"), big.after);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(timeOf(installFolder + "/" + paths[i]), publishedAt + 1000 * static_cast<int>(i))
            << paths[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Served, EntryTimes, ::testing::ValuesIn(serves), testsupport::CaseName());

} // namespace
