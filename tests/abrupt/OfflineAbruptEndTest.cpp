// The offline-message store ended at random moments while messages are added
// and delivered.
#include <gtest/gtest.h>

#include "plugin/offline/OfflineMessageStore.h"
#include "tests/abrupt/AbruptEndRuns.h"

using namespace parleym;
using storetest::MessageCapture;

namespace {
const char kAccount[] = "me@example.com";
const char* const kContacts[] = {"c0@example.com", "c1@example.com", "c2@example.com", "C2@example.com"};

PendingMessages Current(const COfflineMessageStore& store) {
    PendingMessages pending;
    for (const char* contact : kContacts)
        if (const OfflineMessageList* list = store.GetMessages(contact)) pending[contact] = *list;
    return pending;
}

// Messages of varied lengths are added, the first ones delivered now and
// then, a contact's all at once at times, and the user signs out and in.
TEST(OfflineAbruptChild, AddsAndRemovesInALoop) {
    if (storetest::ChildFile().empty()) GTEST_SKIP() << "run by OfflineAbruptEnds.EveryCompletedSaveSurvives";
    storetest::SaveReport report;
    MessageCapture messages;
    CoInitialize(nullptr);
    COfflineMessageStore store;
    if (!store.Open(storetest::ChildFile().c_str())) report.Fail("open");
    store.Load(kAccount);
    if (!store.IsLoaded()) report.Fail("load");
    for (int i = 0; i < 1000000; ++i) {
        const std::string contact = kContacts[i % 4];
        PendingMessages expected = Current(store);
        if (i % 11 == 10) {
            report.Intent(EncodeOfflineMessages(expected));
            store.Save();
            store.Load(kAccount);
            if (!store.IsLoaded()) report.Fail("sign-in");
        } else if (i % 5 == 4 && expected.count(contact)) {
            const bool all = i % 3 == 0;
            OfflineMessageList& list = expected[contact];
            if (all || list.size() == 1)
                expected.erase(contact);
            else
                list.pop_front();
            report.Intent(EncodeOfflineMessages(expected));
            if (all)
                store.RemoveMessages(contact);
            else
                store.RemoveFirstMessages(contact, 1);
        } else {
            CMessageContent message;
            message.isRtf = 0;
            message.text = "run " + std::to_string(report.Run()) + " message " + std::to_string(i) + " " +
                           std::string(static_cast<std::size_t>(i * 613 % 2500), 'm');
            expected[contact].push_back(message);
            report.Intent(EncodeOfflineMessages(expected));
            if (!store.AddMessage(contact, message)) report.Fail("add");
        }
        if (!messages.Messages().empty()) report.Fail(messages.Messages()[0].text);
        report.Done();
    }
}

class OfflineAbruptEnds : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    storetest::ScratchFolder folder{"offline-abrupt"};
    MessageCapture messages;
};

TEST_F(OfflineAbruptEnds, EveryCompletedSaveSurvives) {
    const std::string path = folder.WinPath("offlinemsg.dat");
    Bytes model = EncodeOfflineMessages(PendingMessages());  // what the file must hold
    abrupt_test::RunAbruptEnds("offline-message store", "OfflineAbruptChild.AddsAndRemovesInALoop", path, 150,
                               [&](const storetest::EndedChild& child) {
        if (!child.completed.empty()) model = child.completed.back();
        messages.Clear();
        Bytes stored;
        {
            COfflineMessageStore store;
            if (!store.Open(path.c_str())) {
                ADD_FAILURE() << "the offline-message store does not open";
                return abrupt_test::Found::failed;
            }
            store.Load(kAccount);
            if (!store.IsLoaded()) CopyFileA(path.c_str(), "Z:\\tmp\\i17w-offline-failed.dat", FALSE);
            EXPECT_TRUE(store.IsLoaded());
            stored = EncodeOfflineMessages(Current(store));
            store.Close();
        }
        abrupt_test::ExpectNothingShown(messages.Messages());
        if (child.inFlight && stored == child.pending && stored != model) {
            model = stored;
            return abrupt_test::Found::inFlight;
        }
        EXPECT_TRUE(stored == model) << "the messages differ from the last completed save";
        return abrupt_test::Found::old;
    });
}

} // namespace
