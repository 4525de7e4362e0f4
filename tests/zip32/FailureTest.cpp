// A call that fails leaves an existing archive byte for byte as it was, no
// temporary file beside it, every file it was to move still in place, and
// neither a descriptor open nor memory lost.
#include "FailingAllocation.h"
#include "fileio/SystemCalls.h"
#include "testsupport/CaseName.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "zip32test/ZipHarness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace zip32test {
namespace {

using unzip32test::Tree;

// Every write to the library's temporary archive fails with error once room
// bytes have gone to it; other files are written as usual.
class FailingArchiveWrites {
public:
    FailingArchiveWrites(int error, std::size_t room) : m_replaced(calls(error, room)) {}

private:
    fileio::SystemCalls calls(int error, std::size_t room) {
        fileio::SystemCalls calls = fileio::realSystemCalls();
        const auto realWrite = calls.write;
        calls.write = [this, realWrite, error, room](int fd, const void* data,
                                                     std::size_t size) -> ssize_t {
            if (testsupport::openFilePath(fd).find(".zip32-") == std::string::npos) {
                return realWrite(fd, data, size);
            }
            if (m_taken >= room) {
                errno = error;
                return -1;
            }
            const ssize_t written = realWrite(fd, data, std::min(size, room - m_taken));
            m_taken += written > 0 ? static_cast<std::size_t>(written) : 0;
            return written;
        };
        return calls;
    }

    std::size_t m_taken = 0;
    fileio::ReplacedSystemCalls m_replaced;
};

std::string noise(std::size_t size) {
    std::mt19937 random(11);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

std::ptrdiff_t openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// Whether the leak checker, in a build that has one, finds memory that
// nothing points to any more.
bool memoryLost() {
#if defined(__SANITIZE_ADDRESS__)
    return __lsan_do_recoverable_leak_check() != 0;
#else
    return false;
#endif
}

const Tree sources{{"docs/a.txt", "a"}, {"docs/big.bin", noise(3 << 20)}, {"b.txt", "b"}};

// A FIFO put in place of a file of the sources once the call has chosen its
// files and before it reads them, as a release can change while it is
// packed; the file is back when this goes. Until then an alarm ends a test
// that would wait for a writer.
class FifoInPlace {
public:
    FifoInPlace(ZipCall& call, std::string entry) : m_call(call), m_entry(std::move(entry)) {
        call.atEntry = [this](const std::string& name) {
            if (name == m_entry) {
                ::unlink(path().c_str());
                ::mkfifo(path().c_str(), 0600);
            }
        };
        ::alarm(60);
    }
    ~FifoInPlace() {
        ::alarm(0);
        ::unlink(path().c_str());
        testsupport::writeFile(path(), sources.at(m_entry));
    }
    FifoInPlace(const FifoInPlace&) = delete;
    FifoInPlace& operator=(const FifoInPlace&) = delete;

private:
    std::string path() const { return m_call.root() + "/" + m_entry; }

    ZipCall& m_call;
    std::string m_entry;
};

struct FailureCase {
    const char* name;
    // Sets the call up; what it returns lives until the call has ended.
    std::function<std::shared_ptr<void>(ZipCall&)> arrange;
    std::vector<std::string> names;
    int32_t result;
    const char* message;
    bool linked = false;
};

const FailureCase failureCases[] = {
    {"FullDiskThroughTheFileSeam",
     [](ZipCall&) { return std::make_shared<FailingArchiveWrites>(ENOSPC, 256 * 1024); },
     {"docs"},
     ZP_DISK_FULL,
     "cannot write the archive: No space left on device",
     true},
    {"FailingDiskThroughTheFileSeam",
     [](ZipCall&) { return std::make_shared<FailingArchiveWrites>(EIO, 0); },
     {"b.txt"},
     ZP_WRITE_FAILED,
     "cannot write the archive: Input/output error",
     true},
    // The kernel refuses to read this file's first page, even to root.
    {"UnreadableFileInTheList",
     [](ZipCall&) { return nullptr; },
     {"docs", "/proc/self/mem"},
     ZP_FILE_UNREADABLE,
     "/proc/self/mem: cannot read"},
    // Read without waiting, and refused for what it is now: deflated ahead on
    // a worker, read as libzip writes it, sampled for its line ends.
    {"FifoInPlaceOfAFileDeflatedAhead",
     [](ZipCall& call) { return std::make_shared<FifoInPlace>(call, "b.txt"); },
     {"docs", "b.txt"},
     ZP_FILE_UNREADABLE,
     "/b.txt: was a file when it was chosen and is now a FIFO; never read"},
    {"FifoInPlaceOfAStoredFile",
     [](ZipCall& call) {
         call.options.compressionLevel = '0';
         return std::make_shared<FifoInPlace>(call, "docs/a.txt");
     },
     {"docs", "b.txt"},
     ZP_FILE_UNREADABLE,
     "/docs/a.txt: was a file when it was chosen and is now a FIFO; never read"},
    {"FifoInPlaceOfAFileWhoseLineEndsChange",
     [](ZipCall& call) {
         call.options.compressionLevel = '0';
         call.options.lfToCrlf = 1;
         return std::make_shared<FifoInPlace>(call, "b.txt");
     },
     {"b.txt"},
     ZP_FILE_UNREADABLE,
     "/b.txt: was a file when it was chosen and is now a FIFO; never read"},
    {"ServiceCallbackStop",
     [](ZipCall& call) {
         call.stopAtEntry = "docs/big.bin";
         return nullptr;
     },
     {"docs", "b.txt"},
     ZP_STOPPED_BY_CALLER,
     "stopped by the caller before docs/big.bin"},
    {"DuplicateStoredName",
     [](ZipCall& call) {
         call.options.junkFolderNames = 1;
         return nullptr;
     },
     {"docs", "b.txt", "../other/b.txt"},
     ZP_DUPLICATE_NAME,
     "would both be stored as b.txt"},
    // Memory runs out just after a file is opened (to count its line ends, to
    // deflate it ahead on a worker, to search the archive for entries to
    // repair): the file is closed and zlib's state freed all the same.
    {"MemoryOutCountingLineEnds",
     [](ZipCall& call) {
         call.options.compressionLevel = '0';
         call.options.lfToCrlf = 1;
         return std::make_shared<FailingAllocation>("/b.txt");
     },
     {"b.txt"},
     ZP_OUT_OF_MEMORY,
     "",
     true},
    {"MemoryOutDeflatingAhead",
     [](ZipCall&) { return std::make_shared<FailingAllocation>("/b.txt"); },
     {"b.txt"},
     ZP_FILE_UNREADABLE,
     "b.txt: cannot read: Cannot allocate memory",
     true},
    {"MemoryOutRepairing",
     [](ZipCall& call) {
         call.options.repairArchive = 1;
         return std::make_shared<FailingAllocation>("/p.zip");
     },
     {"b.txt"},
     ZP_OUT_OF_MEMORY,
     "",
     true},
};

class Failing : public testing::TestWithParam<FailureCase> {};

TEST_P(Failing, LeavesTheArchiveAndTheSourcesAsTheyWere) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", sources);
    unzip32test::writeTree(temp / "other", {{"b.txt", "other b"}});
    const std::string archive = temp / "out/p.zip";
    testsupport::TempDir::makeFolder(temp / "out");
    {
        ZipCall first;
        ASSERT_EQ(first.run(archive, temp / "root", {"b.txt"}), ZP_OK);
    }
    const std::string before = testsupport::readFile(archive);

    ZipCall call(GetParam().linked ? linkedZipApi() : loadedZipApi());
    call.options.recurseFolders = 1;
    call.options.moveFiles = 1;
    const std::ptrdiff_t descriptors = openDescriptors();
    {
        const std::shared_ptr<void> arranged = GetParam().arrange(call);
        EXPECT_EQ(call.run(archive, temp / "root", GetParam().names), GetParam().result)
            << call.printed;
    }
    EXPECT_EQ(openDescriptors(), descriptors);
    EXPECT_FALSE(memoryLost());
    EXPECT_NE(call.printed.find(GetParam().message), std::string::npos) << call.printed;
    EXPECT_EQ(testsupport::readFile(archive), before);
    EXPECT_EQ(strayFiles(temp / "out", {"p.zip"}), std::vector<std::string>{});
    EXPECT_EQ(unzip32test::readTree(temp / "root").size(), sources.size() + 1)
        << "moved files are kept";
}

INSTANTIATE_TEST_SUITE_P(Zip32, Failing, testing::ValuesIn(failureCases), testsupport::CaseName{});

TEST(Zip32Failure, NewArchiveIsNotCreatedWhenTheCallFails) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", sources);
    ZipCall call(linkedZipApi());
    call.options.recurseFolders = 1;
    {
        const FailingArchiveWrites full(ENOSPC, 4096);
        EXPECT_EQ(call.run(temp / "p.zip", temp / "root", {"docs"}), ZP_DISK_FULL);
    }
    EXPECT_EQ(strayFiles(temp.path(), {"root"}), std::vector<std::string>{});
    // The same call with room to spare builds it.
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"docs"}), ZP_OK);
    EXPECT_EQ(archiveEntries(temp / "p.zip").at("docs/big.bin"), sources.at("docs/big.bin"));
}

TEST(Zip32Failure, ArchiveThatIsNotAZipIsLeftAlone) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", sources);
    testsupport::writeFile(temp / "p.zip", "this is no archive");
    ZipCall call;
    EXPECT_EQ(call.run(temp / "p.zip", temp / "root", {"b.txt"}), ZP_NOT_A_ZIP);
    EXPECT_EQ(testsupport::readFile(temp / "p.zip"), "this is no archive");
}

} // namespace
} // namespace zip32test
