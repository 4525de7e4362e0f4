// The journal's records read back as they were written, in the format this
// updater writes and in the one earlier updaters wrote; a damaged line is
// refused, never taken for another change.
#include "journal/JournalRecords.h"
#include "platform/Error.h"
#include "testsupport/CaseName.h"
#include "text/Pieces.h"

#include <gtest/gtest.h>

#include <optional>

using updater::JournalRecord;
using updater::readJournal;

namespace {

const std::string header = "updater-journal 2\ninstallation /opt/Morvane%20App\n";
const std::string oldHeader = "updater-journal 1\n";

struct RecordsCase {
    const char* name;
    std::string text;
    std::optional<std::size_t> records; // read back; none: refused
};

class JournalText : public ::testing::TestWithParam<RecordsCase> {};

TEST_P(JournalText, ReadsWholeRecordsAndRefusesOtherTexts) {
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
                    header + "kept 1 2049 77 3 a.dll sha256=00ff\nadded b.dll 2049 78 5 later\n",
                    2},
        // What the updaters before added files' identities wrote.
        RecordsCase{"AddedWithoutIdentity", header + "added b.dll\nadded /opt/x/c.dll\n", 2},
        // The format earlier updaters wrote: absolute paths, spaces as they
        // are, no identity.
        RecordsCase{"OldRecords",
                    oldHeader + "kept 1 /opt/m/a b.dll\nadded /opt/m/p.so\nfolder /opt/m/x\n", 3},
        RecordsCase{"OldLastRecordCutShort", oldHeader + "added /a\nkept 2 /b", 1},
        // No journal this updater can finish.
        RecordsCase{"LaterFormat", "updater-journal 3\ninstallation /opt/m\n", std::nullopt},
        RecordsCase{"OtherText", "records\n", std::nullopt},
        RecordsCase{"RecordBeforeTheInstallation", "updater-journal 2\nadded a\n", std::nullopt},
        RecordsCase{"RelativeInstallation", "updater-journal 2\ninstallation opt\n", std::nullopt},
        RecordsCase{"InstallationWithoutPath", "updater-journal 2\ninstallation\n", std::nullopt}),
    testsupport::CaseName());

// Lines that make a journal damaged, one each, after the header of their
// format.
struct DamagedCase {
    const char* name;
    std::string header;
    const char* lines;
};

class DamagedLine : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedLine, IsRefusedNeverTakenForAnotherChange) {
    const DamagedCase& c = GetParam();
    for (const std::string& line : text::splitText(c.lines, '\n')) {
        if (!line.empty()) {
            EXPECT_THROW(readJournal(c.header + line + "\n", "records"), platform::Error) << line;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, DamagedLine,
                         ::testing::Values(
                             // Paths that would step out of the installation, or name it whole.
                             DamagedCase{"PathsOutOfTheInstallation", header, R"(
added plugins/../../etc/passwd
added ./a.dll
added plugins//p.so
folder plugins/
added %2E%2E/a
added /opt/Morvane%20App/a.dll
folder /opt/Morvane%20App
added /opt/x/../Morvane%20App/a
folder /
)"},
                             DamagedCase{"InstallationLines", header, R"(
installation /opt/other
installation /opt/Morvane%20App
)"},
                             DamagedCase{"NumbersAndFields", header, R"(
kept 1 2049 1700000000 a.dll
kept 1 2049 77 3
kept 0 2049 77 3 a.dll
kept 01 2049 77 3 a.dll
kept 1 -1 77 3 a.dll
kept +1 2049 77 3 a.dll
kept 1 2049 18446744073709551616 3 a.dll
kept x 2049 77 3 a.dll
added  a.dll
added a.dll 
moved a.dll
added a%41
added a%2
added
kept 1 /opt/m/a.dll
added a.dll 2049
added a.dll 2049 78
added a.dll 2049 78 x
added a.dll -1 78 5
added a.dll 2049 78 05
)"},
                             DamagedCase{"OldFormat", oldHeader, R"(
added a
kept x /a
kept 0 /a
kept 1 2049 77 3 a.dll
added /a%20b%
)"}),
                         testsupport::CaseName());

TEST(JournalRecords, EveryPathAnInstructionFileCanNameReadsBackAsWritten) {
    std::string text = updater::journalHeader("/opt/Morvane App %");
    std::vector<JournalRecord> written;
    const updater::FileIdentity identity{2049, 1234567, 1700000000123456789};
    const updater::PlacedFile placed{2049, 7654321, -1700000000123456789};
    for (const std::string& path :
         {std::string("a b/%25/c"), std::string("line\nbreak\r"),
          std::string("\xc3\xa9t\xc3\xa9;x"), std::string("100%"), std::string("/elsewhere/ b"),
          std::string("/opt/Morvane App")}) {
        written.push_back({JournalRecord::Kind::kept, path, 7, identity, std::nullopt});
        written.push_back({JournalRecord::Kind::added, path, 0, std::nullopt, placed});
        written.push_back({JournalRecord::Kind::added, path, 0, std::nullopt, std::nullopt});
        written.push_back({JournalRecord::Kind::folder, path, 0, std::nullopt, std::nullopt});
    }
    for (const JournalRecord& record : written) {
        text += updater::recordLine(record);
    }
    const auto read = readJournal(text, "records");
    EXPECT_EQ(read.installation, "/opt/Morvane App %");
    EXPECT_EQ(read.records, written);
}

// A journal of the earlier format names no installation and no identity.
TEST(JournalRecords, OldJournalReadsAsItWasWritten) {
    const auto read = readJournal(oldHeader + "kept 3 /opt/m/a b%25.dll\nfolder /x\n", "records");
    EXPECT_EQ(read.installation, "");
    EXPECT_EQ(read.records,
              (std::vector<JournalRecord>{
                  {JournalRecord::Kind::kept, "/opt/m/a b%.dll", 3, std::nullopt, std::nullopt},
                  {JournalRecord::Kind::folder, "/x", 0, std::nullopt, std::nullopt}}));
}

} // namespace
