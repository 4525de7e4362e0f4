// The journal's records read back as they were written, in the format this
// updater writes and in the one earlier updaters wrote; a damaged line is
// refused, never taken for another change.
#include "app/JournalRecords.h"
#include "platform/Error.h"
#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

#include <optional>

using updater::FileIdentity;
using updater::journalHeader;
using updater::JournalRecord;
using updater::readJournal;
using updater::recordLine;

namespace {

const std::string header = "updater-journal 2\ninstallation /opt/Morvane%20App\n";
const std::string oldHeader = "updater-journal 1\n";

struct RecordsCase {
    const char* name;
    std::string text;
    std::optional<std::size_t> records; // read back; none: refused
};

class JournalText : public ::testing::TestWithParam<RecordsCase> {};

TEST_P(JournalText, ReadsWholeRecordsAndRefusesDamagedOnes) {
    const RecordsCase& c = GetParam();
    if (!c.records) {
        EXPECT_THROW(readJournal(c.text, "records"), platform::Error);
    } else {
        EXPECT_EQ(readJournal(c.text, "records").records.size(), *c.records);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JournalText,
    ::testing::Values(
        // Cut short: what has no line end yet was never acted on.
        RecordsCase{"Empty", "", 0}, RecordsCase{"HeaderCutShort", "updater-jou", 0},
        RecordsCase{"InstallationCutShort", "updater-journal 2\ninstallation /opt/Mor", 0},
        RecordsCase{"HeaderOnly", header, 0},
        RecordsCase{"LastRecordCutShort", header + "added a.dll\nkept 2 2049 1", 1},
        RecordsCase{"ZerosAfterARecord", header + "added a\n" + std::string(8, '\0'), 1},
        // Whole records, inside the installation and outside it.
        RecordsCase{"EveryKind",
                    header + "kept 1 2049 77 1700000000123456789 morvane.exe\nadded "
                             "plugins/deep/p.so\nfolder plugins\nadded /opt/shared/b.dll\n",
                    4},
        RecordsCase{"ChangedBefore1970", header + "kept 1 2049 77 -5 a.dll\n", 1},
        RecordsCase{"FieldsOfALaterWriterSkipped",
                    header + "kept 1 2049 77 3 a.dll sha256=00ff\nadded b.dll later\n", 2},
        // Paths that would step out of the installation, or name it whole.
        RecordsCase{"DotDotPiece", header + "added plugins/../../etc/passwd\n", std::nullopt},
        RecordsCase{"DotPiece", header + "added ./a.dll\n", std::nullopt},
        RecordsCase{"EmptyPiece", header + "added plugins//p.so\n", std::nullopt},
        RecordsCase{"TrailingSlash", header + "folder plugins/\n", std::nullopt},
        RecordsCase{"EscapedDots", header + "added %2E%2E/a\n", std::nullopt},
        RecordsCase{"AbsoluteInsideTheInstallation", header + "added /opt/Morvane%20App/a.dll\n",
                    std::nullopt},
        RecordsCase{"TheInstallationItself", header + "folder /opt/Morvane%20App\n", std::nullopt},
        RecordsCase{"AbsoluteWithDotDot", header + "added /opt/x/../Morvane%20App/a\n",
                    std::nullopt},
        RecordsCase{"TheRoot", header + "folder /\n", std::nullopt},
        // The installation line: one, absolute, before every record.
        RecordsCase{"RecordBeforeTheInstallation", "updater-journal 2\nadded a\n", std::nullopt},
        RecordsCase{"SecondInstallation", header + "installation /opt/other\n", std::nullopt},
        RecordsCase{"RelativeInstallation", "updater-journal 2\ninstallation opt\n", std::nullopt},
        RecordsCase{"InstallationWithoutPath", "updater-journal 2\ninstallation\n", std::nullopt},
        // Numbers and fields.
        RecordsCase{"MissingInode", header + "kept 1 2049 1700000000 a.dll\n", std::nullopt},
        RecordsCase{"MissingPath", header + "kept 1 2049 77 3\n", std::nullopt},
        RecordsCase{"KeptZero", header + "kept 0 2049 77 3 a.dll\n", std::nullopt},
        RecordsCase{"LeadingZero", header + "kept 01 2049 77 3 a.dll\n", std::nullopt},
        RecordsCase{"NegativeDevice", header + "kept 1 -1 77 3 a.dll\n", std::nullopt},
        RecordsCase{"SignedNumber", header + "kept +1 2049 77 3 a.dll\n", std::nullopt},
        RecordsCase{"NumberTooLarge", header + "kept 1 2049 18446744073709551616 3 a.dll\n",
                    std::nullopt},
        RecordsCase{"NotANumber", header + "kept x 2049 77 3 a.dll\n", std::nullopt},
        RecordsCase{"TwoSpaces", header + "added  a.dll\n", std::nullopt},
        RecordsCase{"UnknownWord", header + "moved a.dll\n", std::nullopt},
        RecordsCase{"BadEscape", header + "added a%41\n", std::nullopt},
        RecordsCase{"EscapeCutShort", header + "added a%2\n", std::nullopt},
        RecordsCase{"LaterFormat", "updater-journal 3\ninstallation /opt/m\n", std::nullopt},
        RecordsCase{"OtherText", "records\n", std::nullopt},
        // The format earlier updaters wrote: absolute paths, spaces as they
        // are, no identity.
        RecordsCase{"OldRecords",
                    oldHeader + "kept 1 /opt/m/a b.dll\nadded /opt/m/p.so\nfolder /opt/m/x\n", 3},
        RecordsCase{"OldLastRecordCutShort", oldHeader + "added /a\nkept 2 /b", 1},
        RecordsCase{"OldRelativePath", oldHeader + "added a\n", std::nullopt},
        RecordsCase{"OldBadNumber", oldHeader + "kept x /a\n", std::nullopt},
        RecordsCase{"OldRecordInTheNewFormat", header + "kept 1 /opt/m/a.dll\n", std::nullopt},
        RecordsCase{"NewRecordInTheOldFormat", oldHeader + "kept 1 2049 77 3 a.dll\n",
                    std::nullopt}),
    testsupport::CaseName());

TEST(JournalRecords, EveryPathAnInstructionFileCanNameReadsBackAsWritten) {
    std::string text = journalHeader("/opt/Morvane App %");
    std::vector<JournalRecord> written;
    const FileIdentity identity{2049, 1234567, 1700000000123456789};
    for (const std::string& path :
         {std::string("a b/%25/c"), std::string("line\nbreak\r"),
          std::string("\xc3\xa9t\xc3\xa9;x"), std::string("100%"), std::string("/elsewhere/ b"),
          std::string("/opt/Morvane App")}) {
        written.push_back({JournalRecord::Kind::kept, path, 7, identity});
        written.push_back({JournalRecord::Kind::added, path, 0, std::nullopt});
        written.push_back({JournalRecord::Kind::folder, path, 0, std::nullopt});
    }
    for (const JournalRecord& record : written) {
        text += recordLine(record);
    }
    const auto read = readJournal(text, "records");
    EXPECT_EQ(read.installation, "/opt/Morvane App %");
    EXPECT_EQ(read.records, written);
}

// A journal of the earlier format names no installation and no identity.
TEST(JournalRecords, OldJournalReadsAsItWasWritten) {
    const auto read = readJournal(oldHeader + "kept 3 /opt/m/a b%25.dll\nfolder /x\n", "records");
    EXPECT_EQ(read.installation, "");
    EXPECT_EQ(read.records, (std::vector<JournalRecord>{
                                {JournalRecord::Kind::kept, "/opt/m/a b%.dll", 3, std::nullopt},
                                {JournalRecord::Kind::folder, "/x", 0, std::nullopt}}));
}

} // namespace
