// Encrypted entries: the password that opened the last entry is tried first,
// so the callback is asked again only when it does not open the next one; a
// right password extracts, a wrong one or none skips the entry with its own
// code.
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "unzip32test/UnzipHarness.h"

#include <gtest/gtest.h>

#include <string>

namespace unzip32test {
namespace {

const Tree secrets{{"one.txt", std::string(5000, '1')}, {"two.txt", "two\n"}, {"three.bin", "3"}};

struct Encryption {
    const char* name;
    std::vector<std::string> zipCommand;
};

const Encryption encryptions[] = {
    {"Traditional", {"7z", "a", "-bd", "-tzip", "-pright", "-mem=ZipCrypto"}},
    {"Aes256", {"7z", "a", "-bd", "-tzip", "-pright", "-mem=AES256"}},
};

void PrintTo(const Encryption& encryption, std::ostream* out) {
    *out << encryption.name;
}

class Passwords : public ::testing::TestWithParam<Encryption> {
protected:
    void SetUp() override {
        writeTree(m_temp / "source", secrets);
        std::vector<std::string> command = GetParam().zipCommand;
        command.push_back(m_archive);
        command.push_back(".");
        runTool(command, m_temp / "source");
    }

    testsupport::TempDir m_temp;
    std::string m_archive = m_temp / "secret.zip";
};

TEST_P(Passwords, RightPasswordExtractsAndIsAskedOnce) {
    UnzipCall call;
    call.password = [](const std::string&) { return std::string("right"); };
    ASSERT_EQ(call.run(m_archive, m_temp / "out"), UZP_OK) << call.printed;
    EXPECT_EQ(readTree(m_temp / "out"), secrets);
    EXPECT_EQ(call.passwordAsked.size(), 1u);
}

TEST_P(Passwords, WrongPasswordIsReportedAsSuch) {
    for (const char* wrong : {"wrong", "", "righ", "right!"}) {
        UnzipCall call;
        call.password = [wrong](const std::string&) { return std::string(wrong); };
        EXPECT_EQ(call.run(m_archive, m_temp / "out"), UZP_BAD_PASSWORD) << wrong;
        EXPECT_EQ(call.passwordAsked.size(), secrets.size()) << wrong;
        EXPECT_NE(call.printed.find("one.txt: "), std::string::npos) << call.printed;
        EXPECT_NE(call.printed.find("wrong password"), std::string::npos) << call.printed;
        EXPECT_EQ(call.printed.find("CRC-32 mismatch\n"), std::string::npos)
            << "a data error of an encrypted entry is a wrong password: " << call.printed;
        EXPECT_EQ(readTree(m_temp / "out"), Tree{}) << wrong;
    }
}

TEST_P(Passwords, NoPasswordSkipsEachEntryWithAMessage) {
    UnzipCall call;
    EXPECT_EQ(call.run(m_archive, m_temp / "out"), UZP_NO_PASSWORD);
    EXPECT_EQ(call.passwordAsked.size(), secrets.size());
    EXPECT_EQ(call.callbacks.entriesFailed, secrets.size());
    EXPECT_NE(
        call.printed.find("two.txt: skipped: the entry is encrypted and no password was given"),
        std::string::npos)
        << call.printed;
    EXPECT_EQ(readTree(m_temp / "out"), Tree{});
}

// Entries added later under another password: the callback is asked again
// exactly where the remembered password stops opening them, and a job after
// this one starts without a password.
TEST_P(Passwords, AskedAgainOnlyWhereThePasswordChanges) {
    writeTree(m_temp / "more", {{"four.txt", "4"}, {"five.txt", "5"}});
    std::vector<std::string> command = GetParam().zipCommand;
    command[command.size() - 2] = "-pother";
    command.push_back(m_archive);
    command.push_back(".");
    runTool(command, m_temp / "more");

    UnzipCall call;
    call.password = [](const std::string& name) {
        return std::string(name == "four.txt" || name == "five.txt" ? "other" : "right");
    };
    ASSERT_EQ(call.run(m_archive, m_temp / "out"), UZP_OK) << call.printed;
    EXPECT_EQ(readTree(m_temp / "out").size(), secrets.size() + 2);
    EXPECT_EQ(call.passwordAsked.size(), 2u);

    UnzipCall next;
    next.options.testOnly = 1;
    EXPECT_EQ(next.run(m_archive, m_temp / "out"), UZP_NO_PASSWORD);
}

TEST_P(Passwords, TestModeChecksEncryptedEntries) {
    UnzipCall call;
    call.options.testOnly = 1;
    call.password = [](const std::string&) { return std::string("right"); };
    EXPECT_EQ(call.run(m_archive, m_temp / "out"), UZP_OK) << call.printed;
    call.password = [](const std::string&) { return std::string("wrong"); };
    EXPECT_EQ(call.run(m_archive, m_temp / "out"), UZP_BAD_PASSWORD) << call.printed;
    EXPECT_FALSE(testsupport::exists(m_temp / "out"));
}

// The password that opened one.txt passes two.txt's one-byte check as one
// header in 256 does, and shows wrong only in the data: two.txt is then
// asked for, in every kind of job that reads it.
TEST(PasswordByChance, PassingTheCheckByChanceStillAsksForTheRightOne) {
    const testsupport::TempDir temp;
    const std::string archive = scriptArchive("password-by-chance", temp / "chance.zip");
    std::string second;
    for (int i = 0; i < 20; ++i) {
        second += "second entry\n";
    }
    for (const int testOnly : {0, 1}) {
        UnzipCall call;
        call.options.testOnly = testOnly;
        call.password = [](const std::string& name) {
            return std::string(name == "two.txt" ? "other" : "right");
        };
        EXPECT_EQ(call.run(archive, temp / "out"), UZP_OK) << call.printed;
        EXPECT_EQ(call.passwordAsked.size(), 2u) << testOnly;
    }
    EXPECT_EQ(readTree(temp / "out"), (Tree{{"one.txt", "one\n"}, {"two.txt", second}}));
}

INSTANTIATE_TEST_SUITE_P(Formats, Passwords, ::testing::ValuesIn(encryptions),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// Only the authentication code at the end of an AES entry shows that its
// stored data was changed.
TEST(AesIntegrity, ChangedDataIsCaughtByTheAuthenticationCode) {
    const testsupport::TempDir temp;
    std::string incompressible(4096, '\0');
    for (std::size_t i = 0; i < incompressible.size(); ++i) {
        incompressible[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    writeTree(temp / "source", {{"data.bin", incompressible}});
    runTool({"7z", "a", "-bd", "-tzip", "-mx=0", "-pright", "-mem=AES256", temp / "a.zip", "."},
            temp / "source");
    std::string bytes = testsupport::readFile(temp / "a.zip");
    bytes[bytes.size() / 2] ^= 0x01;
    testsupport::writeFile(temp / "a.zip", bytes);

    UnzipCall call;
    call.password = [](const std::string&) { return std::string("right"); };
    EXPECT_EQ(call.run(temp / "a.zip", temp / "out"), UZP_BAD_PASSWORD) << call.printed;
    EXPECT_NE(call.printed.find("authentication code"), std::string::npos) << call.printed;
    EXPECT_EQ(readTree(temp / "out"), Tree{});
}

} // namespace
} // namespace unzip32test
