// What the code module's zip and unzip halves share at the library boundary.
#include "codemodule/LibraryBoundary.h"
#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using CodeModule::NameList;

TEST(NameList, PointsTheFirstSlotsAtTheNamesInOrderAndLeavesTheRestNull) {
    const std::vector<std::string> names = {"a.txt", "", "folder\\b.dll"};
    const NameList list(names, "CodeModule::VBZip");
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_NE(list.slots()[i], nullptr);
        EXPECT_EQ(std::string(list.slots()[i]), names[i]);
    }
    for (std::size_t i = names.size(); i < NameList::slotCount; ++i) {
        EXPECT_EQ(list.slots()[i], nullptr) << i;
    }
    const NameList empty;
    EXPECT_EQ(empty.slots()[0], nullptr);
}

TEST(NameList, TakesOneHundredNamesAndRaisesSubscriptOutOfRangeBeyond) {
    std::vector<std::string> names(100, "n");
    EXPECT_NO_THROW(NameList(names, "S"));
    names.push_back("one too many");
    try {
        NameList list(names, "CodeModule::VBZip");
        FAIL() << "no error";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), 9);
        EXPECT_EQ(e.source(), "CodeModule::VBZip");
    }
}

TEST(LibraryCopy, IsTheTextsOwnBytesOrNullForAnUnsetText) {
    const std::string text = "C:\\DATA\xc3\xa9";
    EXPECT_EQ(CodeModule::libraryCopy(text), text.c_str());
    EXPECT_EQ(CodeModule::libraryCopy(std::string()), nullptr);
    EXPECT_EQ(CodeModule::libraryText("abc\0def", 10), "abc");
    EXPECT_EQ(CodeModule::libraryText("abcdef", 4), "abcd");
    EXPECT_EQ(CodeModule::libraryText(nullptr, 4), "");
}

TEST(LibraryLoading, RaisesWithTheCallersSourceOrReportsNullWithoutRaising) {
    const testsupport::TempDir folder;
    CodeModule::setLibraryFolder(folder.path());
    EXPECT_EQ(CodeModule::libraryPath("zip32"), folder / "libzip32.so");
    try {
        CodeModule::loadLibrary("zip32", "CodeModule::VBZip");
        FAIL() << "no error";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), 53);
        EXPECT_EQ(e.source(), "CodeModule::VBZip");
    }
    EXPECT_EQ(CodeModule::tryLoadLibrary("zip32"), nullptr);
    testsupport::writeFile(folder / "libzip32.so", "not a shared library");
    EXPECT_EQ(CodeModule::tryLoadLibrary("zip32"), nullptr);
}

TEST(LibraryLoading, ARealLibraryAnswersForTheEntryPointsItHasOnly) {
    CodeModule::setLibraryFolder(REAL_UNZIP32_FOLDER);
    const auto library = CodeModule::tryLoadLibrary("unzip32");
    ASSERT_NE(library, nullptr);
    EXPECT_NE(library->tryEntryPoint("UzpVersion2"), nullptr);
    EXPECT_EQ(library->tryEntryPoint("ZpArchive"), nullptr);
    try {
        library->entryPoint("ZpArchive");
        FAIL() << "no error";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), 453);
    }
}

} // namespace
