#include "RecordingZipFixture.h"

#include "platform/Error.h"
#include "testsupport/CaseName.h"
#include "zip/CGZipFiles.h"

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

const int32_t alreadyListed = static_cast<int32_t>(0x800407D1u);
const int32_t notListed = static_cast<int32_t>(0x800407D2u);

// Runs call and gives back the error it raised.
template <typename Call> platform::Error raised(Call&& call) {
    try {
        call();
    } catch (const platform::Error& failure) {
        return failure;
    }
    ADD_FAILURE() << "no error raised";
    return platform::Error(0, "", "");
}

Names numberedNames(int count) {
    Names names;
    for (int i = 0; i < count; ++i) {
        names.push_back("file" + std::to_string(i) + ".txt");
    }
    return names;
}

} // namespace

class ZipFileList : public RecordingZipFixture {};

TEST_F(ZipFileList, NewListHandsTheLibraryOnlyThePlaceholder) {
    CGZipFiles zip;
    EXPECT_EQ(zip.ZipFileCount(), 0);
    EXPECT_EQ(zip.RootDirectory(), "\\");
    EXPECT_EQ(zip.MakeZipFile(), 0);
    EXPECT_EQ(lastCall->nameCount, 1);
    EXPECT_EQ(lastCall->names, Names{"querty"});
    EXPECT_EQ(lastCall->nonNullSlots, 1);
    EXPECT_EQ(lastCall->rootDirectory, "\\");
}

TEST_F(ZipFileList, NamesFollowThePlaceholderInTheOrderAdded) {
    CGZipFiles zip;
    zip.ZipFileName("/srv/out.zip");
    zip.AddFile("b.txt");
    zip.AddFile("a.txt");
    EXPECT_EQ(zip.ZipFileCount(), 2);
    EXPECT_EQ(zip.MakeZipFile(), 0);
    EXPECT_EQ(lastCall->calls, (Names{"ZpInit", "ZpSetOptions", "ZpSetChunking", "ZpArchive"}));
    EXPECT_EQ(lastCall->nameCount, 3);
    EXPECT_EQ(lastCall->names, (Names{"querty", "b.txt", "a.txt"}));
    EXPECT_EQ(lastCall->archivePath, "/srv/out.zip");
}

TEST_F(ZipFileList, ChunkingReachesTheLibraryAndItsChunksComeBackInOrder) {
    script->chunks = {{"big.bin", 70000, 41000}, {"big.bin", 30000, 17000}, {"data/x", 9, 7}};
    CGZipFiles zip;
    zip.smallestChunkedFile(1 << 20);
    zip.chunkSizes({1024, 4096, 16384});
    EXPECT_EQ(zip.MakeZipFile(), 0);
    EXPECT_EQ(lastCall->chunking.smallestChunkedFile, 1u << 20);
    EXPECT_EQ(lastCall->chunking.minimumChunk, 1024u);
    EXPECT_EQ(lastCall->chunking.averageChunk, 4096u);
    EXPECT_EQ(lastCall->chunking.maximumChunk, 16384u);
    EXPECT_EQ(lastCall->chunkAnswers, (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(zip.chunks(),
              (std::vector<CodeModule::ZipChunk>{
                  {"big.bin", 70000, 41000}, {"big.bin", 30000, 17000}, {"data/x", 9, 7}}));

    // The next call, without chunking, turns the library's off: its state
    // outlives the call. What an object was told stays its own.
    script->chunks.clear();
    CGZipFiles plain;
    EXPECT_EQ(plain.MakeZipFile(), 0);
    EXPECT_EQ(lastCall->chunking.smallestChunkedFile, 0u);
    EXPECT_TRUE(plain.chunks().empty());
    EXPECT_EQ(zip.chunks().size(), 3u);
}

struct ListCase {
    const char* name;
    Names added;
    Names removed;
    std::string failing; // the operation that must fail: "+name" adds, "-name" removes
    int32_t number;
    const char* source;
};

class ListOperation : public RecordingZipFixture, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ListOperation, FailsWithItsNumberAndLeavesTheListAlone) {
    const ListCase& c = GetParam();
    CGZipFiles zip;
    for (const std::string& name : c.added) {
        zip.AddFile(name);
    }
    for (const std::string& name : c.removed) {
        zip.RemoveFile(name);
    }
    const int32_t countBefore = zip.ZipFileCount();
    const std::string name = c.failing.substr(1);
    const platform::Error failure = raised([&] {
        if (c.failing[0] == '+') {
            zip.AddFile(name);
        } else {
            zip.RemoveFile(name);
        }
    });
    EXPECT_EQ(failure.number(), c.number);
    EXPECT_EQ(failure.source(), c.source);
    EXPECT_EQ(failure.description(), c.number == alreadyListed ? "File is already in Zip List"
                                                               : "File is not in Zip List");
    EXPECT_EQ(zip.ZipFileCount(), countBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListOperation,
    ::testing::Values(
        ListCase{"SameNameInOtherCase", {"a.txt"}, {}, "+A.TXT", alreadyListed, "CGZip::AddFile"},
        ListCase{"PlaceholderInAnyCase", {}, {}, "+QUERTY", alreadyListed, "CGZip::AddFile"},
        ListCase{"NonAsciiOtherCase", {"été.txt"}, {}, "+ÉTÉ.TXT", alreadyListed, "CGZip::AddFile"},
        ListCase{"NeverAdded", {"a.txt"}, {}, "-b.txt", notListed, "CGZip::RemoveFile"},
        ListCase{"RemovedTwice", {"b.txt"}, {"B.TXT"}, "-b.txt", notListed, "CGZip::RemoveFile"}),
    testsupport::CaseName());

TEST_F(ZipFileList, RemovingInOtherCaseAndRemovingThePlaceholder) {
    CGZipFiles zip;
    zip.AddFile("a.txt");
    zip.AddFile("b.txt");
    zip.RemoveFile("B.TXT");
    zip.RemoveFile("Querty");
    // The count still leaves one entry out although the placeholder is gone.
    EXPECT_EQ(zip.ZipFileCount(), 0);
    EXPECT_EQ(zip.MakeZipFile(), 0);
    EXPECT_EQ(lastCall->names, Names{"a.txt"});
}

TEST_F(ZipFileList, NinetyNineNamesFillTheHundredSlots) {
    CGZipFiles zip;
    for (const std::string& name : numberedNames(99)) {
        zip.AddFile(name);
    }
    EXPECT_EQ(zip.MakeZipFile(), 0);
    EXPECT_EQ(lastCall->nameCount, 100);
    EXPECT_EQ(lastCall->nonNullSlots, 100);
    EXPECT_EQ(lastCall->names.back(), "file98.txt");
}

TEST_F(ZipFileList, AHundredNamesRaiseBeforeTheLibraryIsCalled) {
    CGZipFiles zip;
    for (const std::string& name : numberedNames(100)) {
        zip.AddFile(name);
    }
    const platform::Error failure = raised([&] { zip.MakeZipFile(); });
    EXPECT_EQ(failure.number(), platform::ErrorNumber::subscriptOutOfRange);
    EXPECT_EQ(failure.source(), "CGZipFiles::MakeZipFile");
    EXPECT_TRUE(lastCall->calls.empty());
    EXPECT_EQ(zip.ZipFileCount(), 100);
}

struct FlagCase {
    const char* name;
    void (*set)(CGZipFiles&);
    int32_t recurse;
    int32_t update;
};

class FlagReachesTheLibrary : public RecordingZipFixture,
                              public ::testing::WithParamInterface<FlagCase> {};

// Only recursing and updating reach the option record; encryption and
// system files stay 0 whatever the object holds.
TEST_P(FlagReachesTheLibrary, OnlyTheOptionsTheArchiveCallPasses) {
    CGZipFiles zip;
    GetParam().set(zip);
    EXPECT_EQ(zip.MakeZipFile(), 0);
    const ZpOptions& o = lastCall->options;
    EXPECT_EQ(o.recurseFolders, GetParam().recurse);
    EXPECT_EQ(o.updateNewer, GetParam().update);
    EXPECT_EQ(o.encryptEntries, 0);
    EXPECT_EQ(o.includeSystemAndHidden, 0);
    EXPECT_EQ(o.junkFolderNames, 0);
    EXPECT_EQ(o.freshenNewer, 0);
    EXPECT_EQ(o.addArchiveComment, 0);
    EXPECT_EQ(o.compressionLevel, 0);
    EXPECT_EQ(o.dateText, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, FlagReachesTheLibrary,
    ::testing::Values(FlagCase{"Recurse", [](CGZipFiles& z) { z.RecurseFolders(true); }, 1, 0},
                      FlagCase{"Update", [](CGZipFiles& z) { z.UpdatingZip(true); }, 0, 1},
                      FlagCase{"EncryptedAndSystemFiles",
                               [](CGZipFiles& z) {
                                   z.Encrypted(true);
                                   z.IncludeSystemFiles(true);
                                   z.RecurseFolders(true);
                               },
                               1, 0}),
    testsupport::CaseName());

TEST_F(ZipFileList, RootDirectoryReachesTheLibraryUpperCased) {
    CGZipFiles zip;
    zip.RootDirectory("c:\\data\\données");
    EXPECT_EQ(zip.MakeZipFile(), 0);
    EXPECT_EQ(lastCall->rootDirectory, "C:\\DATA\\DONNÉES");
    EXPECT_EQ(zip.RootDirectory(), "c:\\data\\données");
}

TEST_F(ZipFileList, LibraryResultIsReturnedUnchanged) {
    script->result = 9;
    CGZipFiles zip;
    EXPECT_EQ(zip.MakeZipFile(), 9);
}
