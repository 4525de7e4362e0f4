#include "RecordingFixture.h"
#include "testsupport/CaseName.h"

#include "platform/Error.h"
#include "testsupport/TempDir.h"
#include "unzip/CGUnzipFiles.h"
#include "unzip/VBUnzip.h"

#include <cstring>

using Field = int32_t UzpOptions::*;

struct OptionCase {
    const char* name;
    void (*set)(CGUnzipFiles&);
    Field field;
    int32_t expected;
};

class OptionReachesItsField : public RecordingFixture,
                              public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionReachesItsField, AsOneForTrueOrTheNarrowedValue) {
    CGUnzipFiles unzip;
    // Start from all flags off so that only the option under test is set.
    unzip.HonorDirectories(false);
    unzip.OverWriteFiles(false);
    unzip.CaseSensitive(false);
    unzip.MessageLevel(0);
    GetParam().set(unzip);
    EXPECT_EQ(unzip.Unzip("/a.zip", ""), 0);
    const UzpOptions& o = lastCall->options;
    const Field fields[] = {&UzpOptions::extractOnlyNewer,
                            &UzpOptions::spacesToUnderscores,
                            &UzpOptions::promptBeforeOverwrite,
                            &UzpOptions::quietLevel,
                            &UzpOptions::writeToStandardOutput,
                            &UzpOptions::testOnly,
                            &UzpOptions::listContents,
                            &UzpOptions::freshenExisting,
                            &UzpOptions::displayComment,
                            &UzpOptions::honorDirectories,
                            &UzpOptions::overwriteExisting,
                            &UzpOptions::translateLineEnds,
                            &UzpOptions::verbose,
                            &UzpOptions::caseSensitiveMatching,
                            &UzpOptions::privilegeLevel};
    for (Field f : fields) {
        EXPECT_EQ(o.*f, f == GetParam().field ? GetParam().expected : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, OptionReachesItsField,
    ::testing::Values(
        OptionCase{"ExtractNewer", [](CGUnzipFiles& u) { u.ExtractNewer(true); },
                   &UzpOptions::freshenExisting, 1},
        OptionCase{"SpaceToUnderScore", [](CGUnzipFiles& u) { u.SpaceToUnderScore(true); },
                   &UzpOptions::spacesToUnderscores, 1},
        OptionCase{"PromptOverwrite", [](CGUnzipFiles& u) { u.PromptOverwrite(true); },
                   &UzpOptions::promptBeforeOverwrite, 1},
        OptionCase{"MessageLevelMinusOne", [](CGUnzipFiles& u) { u.MessageLevel(-1); },
                   &UzpOptions::quietLevel, -1},
        OptionCase{"WriteToStdOut", [](CGUnzipFiles& u) { u.WriteToStdOut(true); },
                   &UzpOptions::writeToStandardOutput, 1},
        OptionCase{"TestZip", [](CGUnzipFiles& u) { u.TestZip(true); }, &UzpOptions::testOnly, 1},
        OptionCase{"ExtractList", [](CGUnzipFiles& u) { u.ExtractList(1); },
                   &UzpOptions::listContents, 1},
        OptionCase{"ExtractOnlyNewer", [](CGUnzipFiles& u) { u.ExtractOnlyNewer(true); },
                   &UzpOptions::extractOnlyNewer, 1},
        OptionCase{"DisplayComment", [](CGUnzipFiles& u) { u.DisplayComment(true); },
                   &UzpOptions::displayComment, 1},
        OptionCase{"HonorDirectories", [](CGUnzipFiles& u) { u.HonorDirectories(true); },
                   &UzpOptions::honorDirectories, 1},
        OptionCase{"OverWriteFiles", [](CGUnzipFiles& u) { u.OverWriteFiles(true); },
                   &UzpOptions::overwriteExisting, 1},
        OptionCase{"ConvertCRtoCRLF", [](CGUnzipFiles& u) { u.ConvertCRtoCRLF(true); },
                   &UzpOptions::translateLineEnds, 1},
        OptionCase{"Verbose", [](CGUnzipFiles& u) { u.Verbose(true); }, &UzpOptions::verbose, 1},
        OptionCase{"CaseSensitive", [](CGUnzipFiles& u) { u.CaseSensitive(true); },
                   &UzpOptions::caseSensitiveMatching, 1},
        OptionCase{"PrivilegeNegative", [](CGUnzipFiles& u) { u.Privilege(-2); },
                   &UzpOptions::privilegeLevel, -2}),
    testsupport::CaseName());

TEST_F(RecordingFixture, NewObjectHandsOverItsDefaultsListsAndVersionRecord) {
    CGUnzipFiles unzip;
    unzip.ZipFileName("/srv/pkg.zip");
    EXPECT_EQ(unzip.Unzip("", ""), 0);

    EXPECT_EQ(lastCall->versionCalls, 1);
    EXPECT_EQ(lastCall->unzipCalls, 1);
    EXPECT_EQ(lastCall->archivePath, "/srv/pkg.zip");
    EXPECT_TRUE(lastCall->extractionFolderWasNull);
    EXPECT_EQ(lastCall->includeCount, 0);
    EXPECT_EQ(lastCall->excludeCount, 0);
    EXPECT_EQ(lastCall->nonNullSlots, 0);
    const UzpOptions& o = lastCall->options;
    EXPECT_EQ(o.quietLevel, 2);
    EXPECT_EQ(o.honorDirectories, 1);
    EXPECT_EQ(o.overwriteExisting, 1);
    EXPECT_EQ(o.caseSensitiveMatching, 1);
    EXPECT_EQ(o.promptBeforeOverwrite, 0);

    const UzpVersionRecord& v = lastCall->version;
    EXPECT_EQ(v.structureLength, 64u);
    EXPECT_EQ(v.flags, 0u);
    EXPECT_EQ(std::string(v.betaLevel), std::string(9, ' '));
    EXPECT_EQ(std::string(v.releaseDate), std::string(19, ' '));
    EXPECT_EQ(std::string(v.compressionLibraryVersion), std::string(9, ' '));
    const UzpVersionNumber zero{};
    EXPECT_EQ(std::memcmp(&v.unzipVersion, &zero, sizeof zero), 0);
    EXPECT_EQ(std::memcmp(&v.libraryVersion, &zero, sizeof zero), 0);

    const UzpCallbacks& c = lastCall->callbacks;
    EXPECT_NE(c.printMessage, nullptr);
    EXPECT_EQ(c.playSound, nullptr);
    EXPECT_NE(c.askOverwrite, nullptr);
    EXPECT_NE(c.askPassword, nullptr);
    EXPECT_NE(c.reportListedEntry, nullptr);
    EXPECT_NE(c.beforeEntry, nullptr);
    EXPECT_EQ(c.totalUncompressedBytes, 0u);
    EXPECT_EQ(c.entriesFailed, 0u);
}

TEST_F(RecordingFixture, UnzipWithTextsReplacesBothProperties) {
    CGUnzipFiles unzip;
    unzip.ZipFileName("/old.zip");
    unzip.ExtractDir("/old");
    unzip.Unzip("/new.zip", "/new");
    EXPECT_EQ(lastCall->archivePath, "/new.zip");
    EXPECT_EQ(lastCall->extractionFolder, "/new");
    EXPECT_EQ(unzip.ZipFileName(), "/new.zip");
    EXPECT_EQ(unzip.ExtractDir(), "/new");
}

TEST_F(RecordingFixture, LibraryResultIsReturnedUnchanged) {
    script->result = 11;
    CGUnzipFiles unzip;
    EXPECT_EQ(unzip.Unzip("/a.zip", "/b"), 11);
}

TEST_F(RecordingFixture, OutOfRangeLevelOverflowsBeforeTheLibraryIsCalled) {
    CGUnzipFiles unzip;
    unzip.MessageLevel(40000);
    try {
        unzip.Unzip("/a.zip", "");
        FAIL() << "no overflow";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), 6);
        EXPECT_EQ(e.source(), "CGUnZipFiles::Unzip");
        EXPECT_EQ(e.description(), "Overflow");
    }
    EXPECT_EQ(lastCall->unzipCalls, 0);
    EXPECT_EQ(lastCall->versionCalls, 0);
}

TEST_F(RecordingFixture, MissingLibraryRaisesFileNotFoundWithEachSource) {
    testsupport::TempDir empty;
    CodeModule::setLibraryFolder(empty.path());
    CodeModule::state().lastMessage = "from an earlier call";
    try {
        CodeModule::VBUnzip("/a.zip", "", 0, 0, 0, 2, 0, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0);
        FAIL() << "no error";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), 53);
        EXPECT_EQ(e.source(), "CodeModule::VBUnzip");
        EXPECT_NE(e.description().find("libunzip32.so"), std::string::npos);
    }
    EXPECT_EQ(CodeModule::state().lastMessage, "");

    CGUnzipFiles unzip;
    try {
        unzip.Unzip("/a.zip", "");
        FAIL() << "no error";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), 53);
        EXPECT_EQ(e.source(), "CGUnZipFiles::Unzip");
    }
}

TEST_F(RecordingFixture, LibraryThatIsNoLibraryOrLacksAnEntryPoint) {
    testsupport::TempDir folder;
    testsupport::writeFile(folder / "libunzip32.so", "not a shared library");
    CodeModule::setLibraryFolder(folder.path());
    CGUnzipFiles unzip;
    try {
        unzip.Unzip("/a.zip", "");
        FAIL() << "no error";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), 48);
    }
    // A real shared library without the two entry points.
    ASSERT_EQ(std::system(("printf 'int other(void){return 0;}' | cc -shared -fPIC -x c - -o '" +
                           folder / "libunzip32.so" + "'")
                              .c_str()),
              0);
    try {
        unzip.Unzip("/a.zip", "");
        FAIL() << "no error";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), 453);
        EXPECT_NE(e.description().find("UzpVersion2"), std::string::npos);
    }
}

TEST_F(RecordingFixture, SecondCallKeepsOnlyItsOwnMessages) {
    CGUnzipFiles unzip;
    script->messages = {"first\n"};
    unzip.Unzip("/a.zip", "");
    script->messages = {"second\n"};
    unzip.Unzip("/a.zip", "");
    EXPECT_EQ(unzip.GetLastMessage(), "second\n");
    EXPECT_EQ(CGUnzipFiles().GetLastMessage(), "second\n"); // module-wide, not per object
}
