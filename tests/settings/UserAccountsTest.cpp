// users.dat on real files under Wine: error codes, messages, safe rewrite, passwords.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <fstream>
#include <string>
#include <vector>

#include "plugin/core/PasswordDigest.h"
#include "plugin/core/UserAccounts.h"
#include "plugin/core/UserMessage.h"
#include "plugin/core/UserSettingsFile.h"
#include "tests/support/FileBytes.h"
#include "tests/support/MessageCapture.h"
#include "tests/support/TempFolder.h"

using namespace parleym;

namespace {

class UserAccountsTest : public ::testing::Test {
protected:
    void SetUp() override { accounts_.SetDataFolder(folder_.Path()); }
    std::string File() const { return folder_.Path("users.dat"); }
    void WriteRecords(const std::vector<CUserSettings>& records) {
        std::ofstream(File(), std::ios::binary).close();
        ASSERT_EQ(WriteUserSettingsFile(File(), records).kind, SettingsFileResult::Ok);
    }
    std::string FileBytes() const {
        const Bytes bytes = test::ReadFileBytes(File());
        return std::string(bytes.begin(), bytes.end());
    }
    const std::vector<test::ShownMessage>& Shown() const { return messages_.Messages(); }
    void ExpectOnlyMessage(const std::string& text, UINT style = MB_TASKMODAL | MB_ICONERROR | MB_OK) {
        ASSERT_EQ(Shown().size(), 1u);
        EXPECT_EQ(Shown()[0].text, text);
        EXPECT_EQ(Shown()[0].caption, "Parleym");
        EXPECT_EQ(Shown()[0].style, style);
        messages_.Clear();
    }

    test::TempFolder folder_{"parleym-settings"};
    test::MessageCapture messages_;
    CUserAccounts accounts_;
};

} // namespace

TEST_F(UserAccountsTest, MissingFileFailsWithCode2AndIsNeverCreated) {
    EXPECT_FALSE(accounts_.ReadUserSettings());
    ExpectOnlyMessage("Failed to load user settings. Error code: 2");
    EXPECT_FALSE(accounts_.WriteUserSettings());
    ExpectOnlyMessage("Failed to save user settings. Error code: 2");
    EXPECT_EQ(GetFileAttributesA(File().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(UserAccountsTest, FileHeldWithoutSharingFailsWithCode32) {
    WriteRecords({});
    HANDLE held = CreateFileA(File().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(accounts_.ReadUserSettings());
    ExpectOnlyMessage("Failed to load user settings. Error code: 32");
    EXPECT_FALSE(accounts_.WriteUserSettings());
    ExpectOnlyMessage("Failed to save user settings. Error code: 32");
    CloseHandle(held);
}

TEST_F(UserAccountsTest, UnopenablePathIsDeniedWithCode5) {
    // Read-only attributes mean nothing to a root-run Wine; a folder in the file's place is denied everywhere.
    ASSERT_TRUE(CreateDirectoryA(File().c_str(), nullptr));
    EXPECT_FALSE(accounts_.ReadUserSettings());
    ExpectOnlyMessage("Failed to load user settings. Error code: 5");
    EXPECT_FALSE(accounts_.WriteUserSettings());
    ExpectOnlyMessage("Failed to save user settings. Error code: 5");
    RemoveDirectoryA(File().c_str());
}

TEST_F(UserAccountsTest, ForeignOrDamagedFileIsInvalidAndLeftAsItWas) {
    std::ofstream(File(), std::ios::binary) << "MZ this is not a settings file at all";
    const std::string before = FileBytes();
    EXPECT_FALSE(accounts_.ReadUserSettings());
    ExpectOnlyMessage("Failed to load user settings. Invalid file.");
    EXPECT_EQ(FileBytes(), before);

    WriteRecords({{"a", "b", "c"}});
    std::string bytes = FileBytes();
    std::ofstream(File(), std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() - 5);
    EXPECT_FALSE(accounts_.ReadUserSettings());
    ExpectOnlyMessage("Failed to load user settings. Invalid file.");
}

TEST_F(UserAccountsTest, RecordsRoundTripInOrderAndCaseSensitively) {
    WriteRecords({{"me@x.com", NoPasswordDigest(), ""}, {"Me@x.com", MakePasswordDigest("pw"), "C:\\l.dat"}});
    ASSERT_TRUE(accounts_.ReadUserSettings());
    EXPECT_TRUE(Shown().empty());
    ASSERT_EQ(accounts_.Records().size(), 2u);
    EXPECT_EQ(accounts_.GetLogsPath("Me@x.com"), "C:\\l.dat");
    EXPECT_EQ(accounts_.GetLogsPath("me@x.com"), "");
    EXPECT_EQ(accounts_.GetLogsPath("nobody"), "");

    EXPECT_TRUE(accounts_.LoadPasswordDigest("Me@x.com"));
    EXPECT_TRUE(accounts_.IsPasswordSet());
    EXPECT_TRUE(accounts_.VerifyPassword("pw"));
    EXPECT_FALSE(accounts_.VerifyPassword("PW"));
    EXPECT_TRUE(accounts_.LoadPasswordDigest("me@x.com"));
    EXPECT_FALSE(accounts_.IsPasswordSet());
    EXPECT_FALSE(accounts_.LoadPasswordDigest("other@x.com"));
    EXPECT_FALSE(accounts_.IsPasswordSet());
}

TEST_F(UserAccountsTest, ADigestNoPasswordCanMatchLeavesTheAccountWithoutPasswordAndSaysSo) {
    const std::string good = MakePasswordDigest("pw");
    std::string upper = good;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::string notHex = good;
    notHex[5] = 'g';
    for (const std::string& damaged : {upper, good.substr(1), good + "0", notHex, std::string()}) {
        SCOPED_TRACE(damaged);
        WriteRecords({{"me@x.com", damaged, ""}});
        ASSERT_TRUE(accounts_.ReadUserSettings());
        EXPECT_TRUE(accounts_.LoadPasswordDigest("me@x.com"));
        EXPECT_FALSE(accounts_.IsPasswordSet());
        ExpectOnlyMessage("The password stored for me@x.com in users.dat is damaged. The account has no password "
                          "until a new one is set.",
                          MB_TASKMODAL | MB_ICONWARNING | MB_OK);
        // A new password replaces it.
        EXPECT_TRUE(accounts_.ChangePassword("me@x.com", "", "new"));
        EXPECT_EQ(accounts_.FindUserSettings("me@x.com")->passwordDigest, MakePasswordDigest("new"));
        accounts_ = CUserAccounts();
        accounts_.SetDataFolder(folder_.Path());
    }
}

TEST_F(UserAccountsTest, FirstPasswordChangeAppendsARecordAndRewritesTheFile) {
    WriteRecords({});
    ASSERT_TRUE(accounts_.ReadUserSettings());
    accounts_.LoadPasswordDigest("new@x.com");
    EXPECT_TRUE(accounts_.ChangePassword("new@x.com", "", "first"));
    EXPECT_FALSE(accounts_.ChangePassword("new@x.com", "wrong", "second"));
    EXPECT_TRUE(accounts_.VerifyPassword("first"));
    EXPECT_TRUE(Shown().empty());

    std::vector<CUserSettings> onDisk;
    ASSERT_EQ(ReadUserSettingsFile(File(), onDisk).kind, SettingsFileResult::Ok);
    ASSERT_EQ(onDisk.size(), 1u);
    EXPECT_EQ(onDisk[0].signInName, "new@x.com");
    EXPECT_EQ(onDisk[0].passwordDigest, MakePasswordDigest("first"));
    EXPECT_EQ(onDisk[0].logsPath, "");
}

TEST_F(UserAccountsTest, LogsPathForAnAccountWithoutRecordKeepsItWithoutPassword) {
    WriteRecords({{"other@x.com", MakePasswordDigest("x"), ""}});
    ASSERT_TRUE(accounts_.ReadUserSettings());
    accounts_.SetLogsPath("me@x.com", "D:\\mine.dat");
    ExpectOnlyMessage("Logs will be saved in the new location after you restart Parleym",
                      MB_TASKMODAL | MB_ICONWARNING | MB_OK);
    accounts_.SetLogsPath("me@x.com", nullptr);
    messages_.Clear();

    std::vector<CUserSettings> onDisk;
    ASSERT_EQ(ReadUserSettingsFile(File(), onDisk).kind, SettingsFileResult::Ok);
    ASSERT_EQ(onDisk.size(), 2u);
    EXPECT_EQ(onDisk[1].signInName, "me@x.com");
    EXPECT_EQ(onDisk[1].passwordDigest, NoPasswordDigest());
    EXPECT_EQ(onDisk[1].logsPath, "");
}

TEST_F(UserAccountsTest, FailedSaveKeepsTheOldFileAndTheChangeInMemory) {
    WriteRecords({{"me@x.com", MakePasswordDigest("old"), "C:\\keep.dat"}});
    ASSERT_TRUE(accounts_.ReadUserSettings());
    accounts_.LoadPasswordDigest("me@x.com");
    const std::string before = FileBytes();

    // A directory where the new content would be written makes the write fail midway.
    const std::string blocker = File() + ".new";
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), nullptr));
    EXPECT_TRUE(accounts_.ChangePassword("me@x.com", "old", "new"));
    RemoveDirectoryA(blocker.c_str());
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].text.rfind("Failed to save user settings. Error code: ", 0), 0u) << Shown()[0].text;
    EXPECT_EQ(FileBytes(), before);
    EXPECT_TRUE(accounts_.VerifyPassword("new"));
}

// What a write ended between its steps can leave: the new content complete
// beside the file, the file itself gone or unreadable, or both whole. The
// start reads the old or the new settings, never none, and a complete copy
// beside a missing or unreadable file takes its place.
TEST_F(UserAccountsTest, AnEndBetweenTheStepsOfAWriteLeavesOldOrNewSettings) {
    const std::vector<CUserSettings> oldRecords = {{"me@x.com", MakePasswordDigest("old"), ""}};
    const std::vector<CUserSettings> newRecords = {{"me@x.com", MakePasswordDigest("new"), "D:\\logs.dat"}};
    WriteRecords(newRecords);
    const std::string fresh = FileBytes();
    WriteRecords(oldRecords);
    const std::string old = FileBytes();
    const std::string beside = File() + ".new";
    auto put = [](const std::string& path, const std::string* bytes) {
        DeleteFileA(path.c_str());
        if (bytes) std::ofstream(path, std::ios::binary) << *bytes;
    };
    const std::string torn = fresh.substr(0, fresh.size() / 2);
    struct Case {
        const char* name;
        const std::string* file;    // null: missing
        const std::string* besideIt;
        const char* expectedDigestOf;
        bool besideTakesPlace;
    };
    const Case cases[] = {
        {"new content cut short beside", &old, &torn, "old", false},
        {"both whole", &old, &fresh, "old", false},
        {"only the complete new content", nullptr, &fresh, "new", true},
        {"the file torn, the new content complete", &torn, &fresh, "new", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put(File(), c.file);
        put(beside, c.besideIt);
        std::vector<CUserSettings> records;
        ASSERT_EQ(ReadUserSettingsFile(File(), records).kind, SettingsFileResult::Ok);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].passwordDigest, MakePasswordDigest(c.expectedDigestOf));
        if (c.besideTakesPlace) {
            EXPECT_EQ(FileBytes(), fresh);
            EXPECT_EQ(GetFileAttributesA(beside.c_str()), INVALID_FILE_ATTRIBUTES);
        }
    }
    DeleteFileA(beside.c_str());
}
