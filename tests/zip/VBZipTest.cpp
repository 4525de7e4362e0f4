#include "RecordingZipFixture.h"

#include "fixtures/RecordingUnzip.h"
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"
#include "unzip/CGUnzipFiles.h"
#include "zip/CGZipFiles.h"
#include "zip/VBZip.h"

#include <string>
#include <unistd.h>

class ZipCall : public RecordingZipFixture {
protected:
    // One call of the recording library with the given messages.
    std::string messagesAfter(std::vector<std::pair<std::string, uint32_t>> messages) {
        script->messages = std::move(messages);
        CGZipFiles zip;
        EXPECT_EQ(zip.MakeZipFile(), 0);
        return zip.GetLastMessage();
    }
};

struct MessageCase {
    const char* name;
    std::string text;
    uint32_t length;
    std::string expected;
};

class ZipMessage : public ZipCall, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(ZipMessage, AddsTheBytesUpToTheZeroAndNeverPastIndex4096) {
    EXPECT_EQ(messagesAfter({{GetParam().text, GetParam().length}}), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ZipMessage,
    ::testing::Values(MessageCase{"ThreeLetters", "abc", 3, "abc"},
                      MessageCase{"LineEndsKept", "adding: a.txt\r\n", 15, "adding: a.txt\r\n"},
                      MessageCase{"LongerThanTheBuffer", std::string(5000, 'x'), 5000,
                                  std::string(4097, 'x')},
                      MessageCase{"StopsAtTheFirstZero", std::string("ab\0cd", 5), 5, "ab"},
                      MessageCase{"EmptyAddsNothing", "", 0, ""}),
    testsupport::CaseName());

TEST_F(ZipCall, MessagesGatherInOrderAndEachPumpsOnce) {
    const long pumpsBefore = ui.pumps();
    EXPECT_EQ(messagesAfter({{"one\n", 4}, {"two\n", 4}}), "one\ntwo\n");
    EXPECT_EQ(ui.pumps() - pumpsBefore, 2);
}

TEST_F(ZipCall, SecondCallHoldsOnlyItsOwnMessages) {
    messagesAfter({{"first\n", 6}});
    EXPECT_EQ(messagesAfter({{"second\n", 7}}), "second\n");
}

TEST_F(ZipCall, PasswordIsRefusedAndTheCommentIsEmpty) {
    messagesAfter({});
    EXPECT_EQ(lastCall->passwordAnswer, 1);
    EXPECT_TRUE(lastCall->commentIsLibraryBuffer);
    EXPECT_EQ(lastCall->comment, "");
    EXPECT_EQ(lastCall->callbacks.beforeEntry, nullptr);
    EXPECT_TRUE(ui.inputBoxes().empty());
}

TEST_F(ZipCall, UnsetRootDirectoryIsANullPointer) {
    CGZipFiles zip;
    zip.RootDirectory("");
    EXPECT_EQ(zip.MakeZipFile(), 0);
    EXPECT_TRUE(lastCall->rootDirectoryWasNull);
}

TEST_F(ZipCall, MissingLibraryReturnsTheDocumentedCodeWithoutAnError) {
    messagesAfter({{"left from before\n", 17}});
    testsupport::TempDir empty;
    CodeModule::setLibraryFolder(empty.path());
    CGZipFiles zip;
    EXPECT_EQ(zip.MakeZipFile(), CodeModule::zipLibraryNotCalled);
    EXPECT_EQ(zip.GetLastMessage(), "");
}

// A library that lacks the zip entry points: every step is skipped, and the
// result says that no archive call was made rather than success.
TEST_F(ZipCall, LibraryWithoutTheEntryPointsReturnsTheDocumentedCode) {
    testsupport::TempDir folder;
    ASSERT_EQ(symlink(RECORDING_UNZIP32_FOLDER "/libunzip32.so", (folder / "libzip32.so").c_str()),
              0);
    CodeModule::setLibraryFolder(folder.path());
    CGZipFiles zip;
    EXPECT_EQ(zip.MakeZipFile(), CodeModule::zipLibraryNotCalled);
}

// The last-message text is one for both halves: whichever call ran last.
TEST_F(ZipCall, LastMessageIsSharedWithTheUnzipHalf) {
    void* unzipLibrary = dlopen(RECORDING_UNZIP32_FOLDER "/libunzip32.so", RTLD_NOW);
    ASSERT_NE(unzipLibrary, nullptr) << dlerror();
    auto unzipScript =
        reinterpret_cast<RecordingScriptFunction>(dlsym(unzipLibrary, "recordingScript"))();
    *unzipScript = RecordingScript{};
    unzipScript->messages = {"unzipped\n"};

    EXPECT_EQ(messagesAfter({{"zipped\n", 7}}), "zipped\n");
    CodeModule::setLibraryFolder(RECORDING_UNZIP32_FOLDER);
    CGUnzipFiles unzip;
    EXPECT_EQ(unzip.Unzip("/a.zip", ""), 0);
    CGZipFiles zip;
    EXPECT_EQ(zip.GetLastMessage(), "unzipped\n");
    EXPECT_EQ(unzip.GetLastMessage(), "unzipped\n");

    CodeModule::setLibraryFolder(RECORDING_ZIP32_FOLDER);
    EXPECT_EQ(messagesAfter({{"zipped again\n", 13}}), "zipped again\n");
    EXPECT_EQ(unzip.GetLastMessage(), "zipped again\n");
    dlclose(unzipLibrary);
}
