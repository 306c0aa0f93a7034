// users.dat ended at random moments while the settings are written again and
// again (a password set, a logs folder chosen).
#include <gtest/gtest.h>

#include "plugin/core/UserSettingsFile.h"
#include "tests/abrupt/AbruptEndRuns.h"

using parleym::Bytes;
using parleym::CUserSettings;

namespace {

std::vector<CUserSettings> SettingsOfSave(int run, int save) {
    std::vector<CUserSettings> records;
    for (int account = 0; account <= save % 4; ++account)
        records.push_back({"user" + std::to_string(account) + "@x.org", std::string(16, static_cast<char>(save)),
                           "C:\\logs\\run" + std::to_string(run) + "\\save" + std::to_string(save)});
    return records;
}

TEST(UserSettingsAbruptChild, WritesSettingsInALoop) {
    if (storetest::ChildFile().empty()) GTEST_SKIP() << "run by UserSettingsAbruptEnds.EveryCompletedWriteSurvives";
    storetest::SaveReport report;
    for (int i = 0; i < 1000000; ++i) {
        const std::vector<CUserSettings> records = SettingsOfSave(report.Run(), i);
        report.Intent(parleym::EncodeUserSettings(records));
        const parleym::SettingsFileResult result = parleym::WriteUserSettingsFile(storetest::ChildFile(), records);
        if (result.kind != parleym::SettingsFileResult::Ok) report.Fail("write " + std::to_string(result.errorCode));
        report.Done();
    }
}

TEST(UserSettingsAbruptEnds, EveryCompletedWriteSurvives) {
    storetest::ScratchFolder folder{"users-abrupt"};
    const std::string path = folder.WinPath("users.dat");
    CloseHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_EQ(parleym::WriteUserSettingsFile(path, SettingsOfSave(0, 0)).kind, parleym::SettingsFileResult::Ok);
    Bytes model = parleym::EncodeUserSettings(SettingsOfSave(0, 0));
    abrupt_test::RunAbruptEnds("user settings", "UserSettingsAbruptChild.WritesSettingsInALoop", path, 150,
                               [&](const storetest::EndedChild& child) {
        if (!child.completed.empty()) model = child.completed.back();
        std::vector<CUserSettings> records;
        const parleym::SettingsFileResult result = parleym::ReadUserSettingsFile(path, records);
        if (result.kind != parleym::SettingsFileResult::Ok) {
            ADD_FAILURE() << "users.dat does not read: " << result.kind << " " << result.errorCode;
            return abrupt_test::Found::failed;
        }
        const Bytes stored = parleym::EncodeUserSettings(records);
        if (stored == model) return abrupt_test::Found::old;
        EXPECT_TRUE(child.inFlight && stored == child.pending) << "users.dat holds settings never written";
        model = stored;
        return abrupt_test::Found::inFlight;
    });
}

} // namespace
