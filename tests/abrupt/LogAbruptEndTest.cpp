// The log store ended at random moments while it saves conversations.
#include <gtest/gtest.h>

#include <map>

#include "plugin/logging/LogManager.h"
#include "plugin/storage/MessageContent.h"
#include "tests/abrupt/AbruptEndRuns.h"

using parleym::Bytes;
using parleym::CMessageContent;
using parleym::CLogManager;
using parleym::LogEntry;
using storetest::MessageCapture;

namespace {
const char kAccount[] = "amy@x.org";

struct LogSave {
    std::int32_t number = 0;
    double end = 0;
    std::string contact;
    std::string text;
};

Bytes Encode(const LogSave& save) {
    parleym::BinaryWriter out;
    out.PutInt32(save.number);
    out.PutDouble(save.end);
    out.PutString(save.contact);
    out.PutString(save.text);
    return out.Take();
}

LogSave Decode(const Bytes& data) {
    LogSave save;
    parleym::BinaryReader in(data);
    in.GetInt32(save.number);
    in.GetDouble(save.end);
    in.GetString(save.contact);
    in.GetString(save.text);
    return save;
}

// Conversations grow save by save; a new one every fourth save, and a
// sign-out and sign-in now and then, which rewrites the index. Lengths vary
// so that streams move between the file's small and large sectors.
TEST(LogAbruptChild, SavesConversationsInALoop) {
    if (storetest::ChildFile().empty()) GTEST_SKIP() << "run by LogAbruptEnds.EveryCompletedSaveSurvives";
    storetest::SaveReport report;
    MessageCapture messages;
    CoInitialize(nullptr);
    CLogManager logs;
    if (!logs.Open(storetest::ChildFile().c_str()) || !logs.OpenAccount(kAccount)) report.Fail("open");
    LogSave save;
    for (int i = 0; i < 1000000; ++i) {
        if (i % 13 == 12) {
            logs.CloseAccount();
            if (!logs.OpenAccount(kAccount)) report.Fail("sign-in");
            continue;
        }
        if (i % 4 == 0) {
            save.number = logs.TakeNextNumber();
            save.contact = "bob" + std::to_string(save.number % 3) + "@x.org";
            save.text = "{\\rtf1 run " + std::to_string(report.Run()) + " conversation " + std::to_string(save.number);
        }
        save.text += std::string(static_cast<std::size_t>(i * 331 % 1700), static_cast<char>('a' + i % 26)) + "\\par ";
        save.end = report.Run() * 100000.0 + i;
        report.Intent(Encode(save));
        CMessageContent content;
        content.text = save.text + "}";
        logs.SaveConversation(LogEntry{save.end, save.end, save.contact, save.number}, content);
        if (!messages.Messages().empty()) report.Fail(messages.Messages()[0].text);
        report.Done();
    }
}

class LogAbruptEnds : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    storetest::ScratchFolder folder{"log-abrupt"};
    MessageCapture messages;
};

TEST_F(LogAbruptEnds, EveryCompletedSaveSurvives) {
    const std::string path = folder.WinPath("logs.dat");
    std::map<std::int32_t, LogSave> model;  // what the file must hold
    abrupt_test::RunAbruptEnds("log store", "LogAbruptChild.SavesConversationsInALoop", path, 150,
                               [&](const storetest::EndedChild& child) {
        for (const Bytes& done : child.completed) {
            const LogSave save = Decode(done);
            model[save.number] = save;
        }
        const LogSave pending = child.inFlight ? Decode(child.pending) : LogSave{};
        messages.Clear();
        CLogManager logs;
        if (logs.Open(path.c_str()) != 1 || logs.OpenAccount(kAccount) != 1) {
            ADD_FAILURE() << "the log store does not open: "
                          << (messages.Messages().empty() ? "" : messages.Messages()[0].text);
            return abrupt_test::Found::failed;
        }
        abrupt_test::ExpectNothingShown(messages.Messages());
        abrupt_test::Found found = abrupt_test::Found::old;
        std::map<std::int32_t, LogSave> seen;
        for (const LogEntry& entry : logs.Index()) {
            EXPECT_EQ(seen.count(entry.number), 0u) << "conversation " << entry.number << " listed twice";
            CMessageContent content;
            EXPECT_EQ(logs.LoadConversation(std::to_string(entry.number).c_str(), content), S_OK);
            if (!content.text.empty()) content.text.pop_back();  // the closing brace
            seen[entry.number] = LogSave{entry.number, entry.end, entry.contact, content.text};
        }
        for (const auto& kept : model) {
            const LogSave& expected = kept.second;
            const auto at = seen.find(expected.number);
            if (at == seen.end()) {
                ADD_FAILURE() << "conversation " << expected.number << " is gone";
                continue;
            }
            const LogSave& stored = at->second;
            const bool underWay = child.inFlight && pending.number == expected.number;
            if (underWay && stored.text == pending.text) found = abrupt_test::Found::inFlight;
            EXPECT_TRUE(stored.text == expected.text || (underWay && stored.text == pending.text))
                << "conversation " << expected.number << " holds other text";
            EXPECT_TRUE(stored.end == expected.end || (underWay && stored.end == pending.end))
                << "conversation " << expected.number << " ends at " << stored.end;
            EXPECT_EQ(stored.contact, expected.contact);
        }
        for (const auto& stored : seen) {
            if (model.count(stored.first)) continue;
            // Only the new conversation that was being saved, listed again
            // from its stream when its index entry was not yet written.
            EXPECT_TRUE(child.inFlight && stored.first == pending.number && stored.second.text == pending.text)
                << "conversation " << stored.first << " was never saved";
            EXPECT_TRUE(stored.second.contact == pending.contact || stored.second.contact.empty());
            found = abrupt_test::Found::inFlight;
        }
        // The next run goes on from what this start found.
        model = seen;
        return found;
    });
}

} // namespace
