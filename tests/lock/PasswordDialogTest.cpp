// "Set password" and the password asked before the log viewer opens.
#include <gtest/gtest.h>

#include <cryptopp/default.h>
#include <cryptopp/filters.h>

#include <fstream>
#include <iterator>

#include "framework/FrameWnd.h"
#include "plugin/core/PasswordDigest.h"
#include "plugin/core/UserSettingsFormat.h"
#include "plugin/lock/LockResources.h"
#include "plugin/logging/LogViewerResources.h"
#include "shared/Protocol.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/lock/LockTestSupport.h"

using namespace parleym;
using namespace coretest;
using namespace locktest;

namespace {

constexpr UINT kOwnedError = MB_OK | MB_ICONERROR;

struct PasswordBench {
    Bench bench;
    PasswordBench() {
        bench.SignIn("me@example.com", "Me");
        bench.CreateUiManagerWindow();
        bench.CreateMainWindow();
        bench.Start();
        manager().realLock = true;
    }
    TestManager& manager() { return bench.Manager(); }
    void command(UINT id) {
        manager().OnCommand(nullptr, id, 0);
        bench.Pump();
    }
    // The last message shown, which must be owned by `dialog`.
    void ExpectMessage(HWND dialog, const std::string& text) {
        const auto shown = bench.Messages();
        ASSERT_FALSE(shown.empty()) << text;
        EXPECT_EQ(text, shown.back().text);
        EXPECT_EQ("Error", shown.back().caption);
        EXPECT_EQ(kOwnedError, shown.back().style);
        EXPECT_EQ(dialog, shown.back().owner);
    }
};

// users.dat as any program holding the pass phrase reads it: the records' three strings.
std::vector<std::vector<std::string>> ReadUsersIndependently(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string cipher((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string plain;
    CryptoPP::LegacyDecryptorWithMAC decryptor(kUserSettingsPassphrase, new CryptoPP::StringSink(plain));
    decryptor.Put(reinterpret_cast<const CryptoPP::byte*>(cipher.data()), cipher.size());
    decryptor.MessageEnd();
    size_t at = 0;
    auto le32 = [&] {
        uint32_t value = 0;
        for (int i = 0; i < 4 && at < plain.size(); ++i)
            value |= static_cast<uint32_t>(static_cast<unsigned char>(plain[at++])) << (8 * i);
        return value;
    };
    std::vector<std::vector<std::string>> records(le32());
    for (auto& record : records)
        for (int field = 0; field < 3; ++field) {
            const uint32_t length = le32();
            record.push_back(plain.substr(at, length));
            at += length;
        }
    EXPECT_EQ(plain.size(), at);
    return records;
}

} // namespace

TEST(SetPasswordDialog, FirstPasswordIsCheckedAndStoredForTheAccount) {
    PasswordBench s;
    HWND dialog = nullptr;
    ModalScript script;
    script
        .Then("Set password", [&](HWND found) {
            dialog = found;
            // No password yet: nothing to confirm.
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_PASSWORD_CURRENT)));
            EXPECT_EQ(dialog, s.manager().OpenDialog());
            EXPECT_TRUE(AllLabelsShowWholeText(dialog));
            Click(dialog, IDOK);
            s.ExpectMessage(dialog, "Password can not be empty");
            EXPECT_EQ(IDC_PASSWORD_NEW, FocusedId());
        })
        .Then("Set password", [&](HWND) {
            Type(dialog, IDC_PASSWORD_NEW, "Secret");
            Type(dialog, IDC_PASSWORD_RETYPE, "secret");
            Click(dialog, IDOK);
            s.ExpectMessage(dialog, "You didn't retype password correctly");
            EXPECT_EQ(IDC_PASSWORD_RETYPE, FocusedId());
            EXPECT_TRUE(WholeTextSelected(dialog, IDC_PASSWORD_RETYPE));
            EXPECT_FALSE(s.manager().IsPasswordSet());
        })
        .Then("Set password", [&](HWND) {
            Type(dialog, IDC_PASSWORD_RETYPE, "Secret");
            Click(dialog, IDOK);
        })
        .Rescue([&] { Click(FindDialog("Set password"), IDCANCEL); });
    s.command(CMD_SET_PASSWORD);
    EXPECT_EQ(0u, script.Remaining());
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(nullptr, s.manager().OpenDialog());
    EXPECT_EQ(0, s.manager().DialogBusy());
    EXPECT_EQ(2u, s.bench.Messages().size());

    // Case counts; the record has the digest and an empty logs path.
    EXPECT_TRUE(s.manager().VerifyPassword("Secret"));
    EXPECT_FALSE(s.manager().VerifyPassword("secret"));
    const auto records = ReadUsersIndependently(s.bench.DataFile("users.dat"));
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ((std::vector<std::string>{"me@example.com", MakePasswordDigest("Secret"), ""}), records[0]);
}

TEST(SetPasswordDialog, ChangeNeedsTheCurrentPasswordOfTheSignedInAccount) {
    PasswordBench s;
    s.bench.WriteUsersFile({{"me@example.com", MakePasswordDigest("Secret"), "C:\\logs\\me.dat"},
                            {"other@example.com", MakePasswordDigest("Other"), ""}});
    s.bench.Stop();
    s.bench.Start();
    s.manager().realLock = true;
    ASSERT_TRUE(s.manager().IsPasswordSet());

    HWND dialog = nullptr;
    {
        ModalScript script;
        script
            .Then("Set password", [&](HWND found) {
                dialog = found;
                EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_PASSWORD_CURRENT)));
                // Another account's password is no current password here.
                Type(dialog, IDC_PASSWORD_CURRENT, "Other");
                Type(dialog, IDC_PASSWORD_NEW, "New one");
                Type(dialog, IDC_PASSWORD_RETYPE, "New one");
                Click(dialog, IDOK);
                s.ExpectMessage(dialog, "Current password mismatch");
                EXPECT_EQ("Other", TextOf(dialog, IDC_PASSWORD_CURRENT));
                EXPECT_EQ("New one", TextOf(dialog, IDC_PASSWORD_NEW));
                EXPECT_EQ("New one", TextOf(dialog, IDC_PASSWORD_RETYPE));
                EXPECT_TRUE(s.manager().VerifyPassword("Secret"));
            })
            .Then("Set password", [&](HWND) { Click(dialog, IDCANCEL); })
            .Rescue([&] { Click(FindDialog("Set password"), IDCANCEL); });
        s.command(CMD_SET_PASSWORD);
        EXPECT_EQ(0u, script.Remaining());
    }
    EXPECT_TRUE(s.manager().VerifyPassword("Secret"));

    // Signed in as the other account, its own digest is the one compared.
    s.bench.Api().FireSignout();
    s.bench.State().SelectAccount("other@example.com", "Other");
    s.bench.State().SetSignedIn(true);
    s.bench.Api().FireSignin(S_OK);
    s.bench.Pump();
    EXPECT_TRUE(s.manager().VerifyPassword("Other"));
    {
        ModalScript script;
        script.Rescue([&] { Click(FindDialog("Set password"), IDCANCEL); });
        script.Then("Set password", [&](HWND found) {
            dialog = found;
            Type(dialog, IDC_PASSWORD_CURRENT, "Other");
            Type(dialog, IDC_PASSWORD_NEW, "Changed");
            Type(dialog, IDC_PASSWORD_RETYPE, "Changed");
            Click(dialog, IDOK);
        });
        s.command(CMD_SET_PASSWORD);
        EXPECT_EQ(0u, script.Remaining());
    }
    EXPECT_TRUE(s.manager().VerifyPassword("Changed"));
    const auto records = ReadUsersIndependently(s.bench.DataFile("users.dat"));
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ((std::vector<std::string>{"me@example.com", MakePasswordDigest("Secret"), "C:\\logs\\me.dat"}),
              records[0]);
    EXPECT_EQ((std::vector<std::string>{"other@example.com", MakePasswordDigest("Changed"), ""}), records[1]);
}

TEST(PasswordDialogs, GoWithTheAccountTheyWereOpenedFor) {
    PasswordBench s;
    s.bench.WriteUsersFile({{"other@example.com", MakePasswordDigest("Other"), ""}});
    s.bench.Stop();
    s.bench.Start();
    s.manager().realLock = true;
    const auto switchAccount = [&] {
        s.bench.Api().FireSignout();
        s.bench.State().SelectAccount("other@example.com", "Other");
        s.bench.State().SetSignedIn(true);
        s.bench.Api().FireSignin(S_OK);
    };
    // "Set password" opened without a password: its disabled current box would let
    // anyone set the other account's password.
    bool closed = false;
    {
        ModalScript script;
        script.Rescue([&] { Click(FindDialog("Set password"), IDCANCEL); });
        script.Then("Set password", [&](HWND dialog) {
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_PASSWORD_CURRENT)));
            switchAccount();
            closed = !IsWindowVisible(dialog);
            Type(dialog, IDC_PASSWORD_NEW, "Taken");
            Type(dialog, IDC_PASSWORD_RETYPE, "Taken");
            Click(dialog, IDOK);
        });
        s.command(CMD_SET_PASSWORD);
        EXPECT_EQ(0u, script.Remaining());
    }
    EXPECT_TRUE(closed);
    EXPECT_TRUE(s.manager().VerifyPassword("Other"));
    EXPECT_EQ(nullptr, s.manager().OpenDialog());

    // The view-logs prompt asks for one account's password and goes with it.
    s.manager().calls.clear();
    {
        ModalScript script;
        script.Rescue([&] { Click(FindDialog("View logs"), IDCANCEL); });
        script.Then("View logs", [&](HWND dialog) {
            s.bench.Api().FireSignout();
            closed = !IsWindowVisible(dialog);
            Type(dialog, IDC_PASSWORD_NEW, "Other");
            Click(dialog, IDOK);
        });
        s.command(CMD_VIEW_LOGS);
        EXPECT_EQ(0u, script.Remaining());
    }
    EXPECT_TRUE(closed);
    EXPECT_EQ((std::vector<std::string>{"view-logs-password"}), s.manager().calls);
}

TEST(ViewLogsPassword, WrongPasswordEmptiesTheBoxAndTheOpenViewerIsOnlyBroughtForward) {
    PasswordBench s;
    ASSERT_TRUE(s.manager().ChangePassword("", "Secret"));
    HWND dialog = nullptr;
    ModalScript script;
    script
        .Then("View logs", [&](HWND found) {
            dialog = found;
            EXPECT_EQ(dialog, s.manager().OpenDialog());
            EXPECT_TRUE(AllLabelsShowWholeText(dialog));
            Type(dialog, IDC_PASSWORD_NEW, "secret");
            Click(dialog, IDOK);
            s.ExpectMessage(dialog, "Wrong password");
            EXPECT_EQ("", TextOf(dialog, IDC_PASSWORD_NEW));
            EXPECT_TRUE(s.manager().calls == std::vector<std::string>{"view-logs-password"});
        })
        .Then("View logs", [&](HWND) { Click(dialog, IDCANCEL); })
        .Then("View logs", [&](HWND found) {
            dialog = found;
            Type(dialog, IDC_PASSWORD_NEW, "Secret");
            Click(dialog, IDOK);
        })
        .Rescue([&] { Click(FindDialog("View logs"), IDCANCEL); });
    s.command(CMD_VIEW_LOGS);  // cancelled: no viewer
    EXPECT_EQ((std::vector<std::string>{"view-logs-password"}), s.manager().calls);
    EXPECT_EQ(nullptr, s.manager().OpenDialog());
    s.command(CMD_VIEW_LOGS);
    EXPECT_EQ(0u, script.Remaining());
    EXPECT_EQ((std::vector<std::string>{"view-logs-password", "view-logs-password", "log-viewer"}),
              s.manager().calls);

    // With the viewer open, a second "View logs..." asks nothing and brings it forward.
    auto* viewer = new CFrameWnd();
    ASSERT_TRUE(viewer->LoadFrame(IDR_LOG_VIEWER));
    s.manager().SetLogViewer(viewer);
    s.manager().calls.clear();
    s.bench.ClearLoaderMessages();
    s.command(CMD_VIEW_LOGS);
    EXPECT_TRUE(s.manager().calls.empty());
    const auto forward = s.bench.LoaderMessages(LDR_SET_FOREGROUND);
    ASSERT_EQ(1u, forward.size());
    EXPECT_EQ(reinterpret_cast<LPARAM>(viewer->GetSafeHwnd()), forward[0].lParam);
    viewer->DestroyWindow();
    s.manager().SetLogViewer(nullptr);
}
