#include "fileio/Room.h"
#include "fileio/SystemCalls.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/statvfs.h>

namespace {

// While it lives, every file system has the given free bytes (in 4 KiB
// blocks and a remainder the block count cannot show is left out), or none
// can tell when free is nullopt.
// Every file system here holds this much in all.
constexpr unsigned long diskBytes = 250'000'000'000;

class GivenFreeSpace {
public:
    explicit GivenFreeSpace(std::optional<unsigned long> freeBytes)
        : m_replaced(calls(freeBytes)) {}

private:
    static fileio::SystemCalls calls(std::optional<unsigned long> freeBytes) {
        fileio::SystemCalls calls = fileio::realSystemCalls();
        calls.statvfs = [freeBytes](const char*, struct statvfs* status) {
            if (!freeBytes) {
                errno = ENOSYS;
                return -1;
            }
            *status = {};
            status->f_frsize = 1;
            status->f_bavail = *freeBytes;
            status->f_blocks = diskBytes;
            return 0;
        };
        return calls;
    }
    fileio::ReplacedSystemCalls m_replaced;
};

TEST(RoomShortfall, SaysWhatIsNeededAndFreeInOneUnit) {
    const struct {
        std::uint64_t needed;
        std::optional<unsigned long> free;
        std::optional<std::string> sentence;
    } cases[] = {
        {412000001, 96999999, "the package needs 413 MB on /opt/morvane, 96 MB are free"},
        {1500, 999, "the package needs 2 KB on /opt/morvane, 0 KB are free"},
        {500, 100, "the package needs 500 bytes on /opt/morvane, 100 bytes are free"},
        {1000, 1000, std::nullopt},
        {0, 0, std::nullopt},
        // More than the whole disk: no clearing up makes room for it.
        {1'000'000'000'000'000, 96999999,
         "the package needs 1000000000 MB, more than the disk that holds /opt/morvane can hold "
         "(250000 MB in all)"},
        // A file system that cannot tell lets the work find out itself.
        {1000, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const GivenFreeSpace space(c.free);
        const auto shortfall = fileio::roomShortfall("/opt/morvane", c.needed, "the package");
        EXPECT_EQ(shortfall ? std::optional(shortfall->sentence) : std::nullopt, c.sentence)
            << c.needed;
    }
}

} // namespace
