// The offline-message store on real compound files.
#include <gtest/gtest.h>

#include <objbase.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "plugin/offline/OfflineMessageStore.h"
#include "tests/stats/StoreTestSupport.h"

using namespace parleym;
using storetest::DumpStore;
using storetest::MessageCapture;

namespace {
CMessageContent Plain(const std::string& text) {
    CMessageContent content;
    content.isRtf = 0;
    content.text = text;
    return content;
}

std::vector<std::string> Texts(const OfflineMessageList* list) {
    std::vector<std::string> texts;
    if (list)
        for (const CMessageContent& message : *list) texts.push_back(message.text);
    return texts;
}

class OfflineStoreTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    std::string Dump() { return DumpStore(folder, "offline", "offlinemsg.dat"); }

    storetest::ScratchFolder folder{"offline"};
    std::string path = folder.WinPath("offlinemsg.dat");
    MessageCapture messages;
};
} // namespace

TEST_F(OfflineStoreTest, MessagesSurviveSignOutPerContactAndInOrder) {
    {
        COfflineMessageStore store;
        ASSERT_EQ(store.Open(path.c_str()), 1);
        EXPECT_EQ(store.AddMessage("bob", Plain("dropped")), nullptr); // nobody signed in
        store.Load("me@example.com");
        ASSERT_TRUE(store.IsLoaded());
        store.Save();
        EXPECT_FALSE(store.IsLoaded());
        store.Close();
    }
    EXPECT_EQ(Dump(), "userids last=1\naccount me@example.com 1\n1: messages(4)\n1/messages\n");

    COfflineMessageStore store;
    ASSERT_EQ(store.Open(path.c_str()), 1);
    store.Load("me@example.com");
    CMessageContent* added = store.AddMessage("bob@example.com", Plain("first"));
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->text, "first");
    store.AddMessage("bob@example.com", Plain("second"));
    CMessageContent rich;
    rich.text = "{\\rtf1 :)}";
    rich.AddObject(7, "12");
    store.AddMessage("Bob@example.com", rich);
    store.Save();
    EXPECT_EQ(store.GetMessages("bob@example.com"), nullptr);
    store.Close();
    EXPECT_EQ(Dump(), "userids last=1\naccount me@example.com 1\n1: messages(117)\n1/messages\n"
                      "contact Bob@example.com\nmessage rtf=1 text='{\\\\rtf1 :)}' objects=[(7, '12')]\n"
                      "contact bob@example.com\nmessage rtf=0 text='first' objects=[]\n"
                      "message rtf=0 text='second' objects=[]\n");

    COfflineMessageStore again;
    ASSERT_EQ(again.Open(path.c_str()), 1);
    again.Load("other@example.com"); // another account sees none of them
    EXPECT_EQ(again.GetMessages("bob@example.com"), nullptr);
    again.Save();
    again.Load("me@example.com");
    EXPECT_EQ(Texts(again.GetMessages("bob@example.com")), std::vector<std::string>({"first", "second"}));
    ASSERT_NE(again.GetMessages("Bob@example.com"), nullptr);
    EXPECT_EQ(again.GetMessages("Bob@example.com")->front().objects.at(0).key, "12");
    EXPECT_EQ(again.GetMessages("BOB@example.com"), nullptr);

    // Delivered messages leave no block, and the shorter save no stale bytes.
    again.RemoveMessages("bob@example.com");
    EXPECT_EQ(again.GetMessages("bob@example.com"), nullptr);
    again.Close();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(Dump(), "userids last=2\naccount me@example.com 1\naccount other@example.com 2\n"
                      "1: messages(59)\n1/messages\n"
                      "contact Bob@example.com\nmessage rtf=1 text='{\\\\rtf1 :)}' objects=[(7, '12')]\n"
                      "2: messages(4)\n2/messages\n");
}

TEST_F(OfflineStoreTest, PartlyDeliveredContactKeepsTheRestInOrder) {
    COfflineMessageStore store;
    ASSERT_EQ(store.Open(path.c_str()), 1);
    store.RemoveFirstMessages("bob@example.com", 1);  // not loaded: nothing happens
    store.Load("me@example.com");
    for (const char* text : {"one", "two", "three"}) store.AddMessage("bob@example.com", Plain(text));
    store.AddMessage("cid@example.com", Plain("other"));
    store.RemoveFirstMessages("bob@example.com", 0);
    store.RemoveFirstMessages("bob@example.com", 1);
    EXPECT_EQ(Texts(store.GetMessages("bob@example.com")), std::vector<std::string>({"two", "three"}));
    store.Save();
    store.Load("me@example.com");
    EXPECT_EQ(Texts(store.GetMessages("bob@example.com")), std::vector<std::string>({"two", "three"}));
    // All of them taken (or more asked for than there are): the contact's block goes.
    store.RemoveFirstMessages("bob@example.com", 5);
    EXPECT_EQ(store.GetMessages("bob@example.com"), nullptr);
    EXPECT_EQ(Texts(store.GetMessages("cid@example.com")), std::vector<std::string>({"other"}));
    store.Close();
    EXPECT_EQ(Dump(), "userids last=1\naccount me@example.com 1\n1: messages(44)\n1/messages\n"
                      "contact cid@example.com\nmessage rtf=0 text='other' objects=[]\n");
}

TEST_F(OfflineStoreTest, ATakenMessageIsOutOfTheFileAndGoesBackToItsOwnAccount) {
    COfflineMessageStore store;
    ASSERT_EQ(store.Open(path.c_str()), 1);
    CMessageContent taken;
    EXPECT_FALSE(store.TakeFirstMessage("bob@example.com", taken));  // not loaded
    store.Load("me@example.com");
    for (const char* text : {"one", "two", "three"}) store.AddMessage("bob@example.com", Plain(text));
    ASSERT_TRUE(store.TakeFirstMessage("bob@example.com", taken));
    EXPECT_EQ("one", taken.text);
    // Already written: an abrupt end now does not send it again.
    const std::string written = Dump();
    EXPECT_NE(std::string::npos, written.find("text='two'")) << written;
    EXPECT_EQ(std::string::npos, written.find("text='one'")) << written;

    // Not sent after all, while the account is loaded: back in front.
    store.ReturnMessage("me@example.com", "bob@example.com", taken);
    EXPECT_EQ(Texts(store.GetMessages("bob@example.com")), std::vector<std::string>({"one", "two", "three"}));

    // The account signed out, another signed in meanwhile: into the first account's file.
    ASSERT_TRUE(store.TakeFirstMessage("bob@example.com", taken));
    store.Save();
    store.Load("other@example.com");
    store.ReturnMessage("me@example.com", "bob@example.com", taken);
    EXPECT_EQ(store.GetMessages("bob@example.com"), nullptr);
    store.Save();
    store.Load("me@example.com");
    EXPECT_EQ(Texts(store.GetMessages("bob@example.com")), std::vector<std::string>({"one", "two", "three"}));
    store.Close();
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(OfflineStoreTest, StreamLeftEmptyByAnAbruptEndHoldsNoMessages) {
    EXPECT_EQ(storetest::RunChildTest("OfflineStoreChild.SignsInAndEndsAbruptly", path), 77u);
    EXPECT_EQ(Dump(), "userids last=1\naccount me@example.com 1\n1: messages(0)\n1 empty\n");
    COfflineMessageStore store;
    ASSERT_EQ(store.Open(path.c_str()), 1);
    store.Load("me@example.com");
    EXPECT_TRUE(store.IsLoaded());
    EXPECT_NE(store.AddMessage("bob", Plain("kept")), nullptr);
    store.Close();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_NE(Dump().find("contact bob\nmessage rtf=0 text='kept'"), std::string::npos);
}

TEST_F(OfflineStoreTest, MissingStreamIsMadeAnew) {
    storetest::WriteStoreFile(path, {{"me@example.com", 1, {}}});
    COfflineMessageStore store;
    ASSERT_EQ(store.Open(path.c_str()), 1);
    store.Load("me@example.com");
    EXPECT_TRUE(store.IsLoaded());
    store.Close();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(Dump(), "userids last=1\naccount me@example.com 1\n1: messages(4)\n1/messages\n");
}

TEST(OfflineStoreChild, SignsInAndEndsAbruptly) {
    const std::string path = storetest::ChildFile();
    if (path.empty()) GTEST_SKIP() << "run by StreamLeftEmptyByAnAbruptEndHoldsNoMessages";
    MessageCapture messages;
    CoInitialize(nullptr);
    COfflineMessageStore store;
    if (!store.Open(path.c_str())) std::exit(1);
    store.Load("me@example.com");
    if (!store.IsLoaded() || !messages.Messages().empty()) std::exit(2);
    storetest::EndAbruptly();
}

// Opens the store the parent prepared, does what the parent names, and ends
// without saving or closing anything.
void ChangeAndEndAbruptly(const std::function<void(COfflineMessageStore&)>& change) {
    const std::string path = storetest::ChildFile();
    MessageCapture messages;
    CoInitialize(nullptr);
    COfflineMessageStore store;
    if (!store.Open(path.c_str())) std::exit(1);
    store.Load("me@example.com");
    if (!store.IsLoaded()) std::exit(2);
    change(store);
    if (!messages.Messages().empty()) std::exit(3);
    storetest::EndAbruptly();
}

TEST(OfflineStoreChild, AddsAndEndsAbruptly) {
    if (storetest::ChildFile().empty()) GTEST_SKIP() << "run by MessagesReachTheFileAtEveryAddAndRemoval";
    ChangeAndEndAbruptly([](COfflineMessageStore& store) {
        for (const char* text : {"one", "two", "three"}) store.AddMessage("bob@example.com", Plain(text));
        store.AddMessage("cid@example.com", Plain("for cid"));
    });
}

TEST(OfflineStoreChild, DeliversAndEndsAbruptly) {
    if (storetest::ChildFile().empty()) GTEST_SKIP() << "run by MessagesReachTheFileAtEveryAddAndRemoval";
    ChangeAndEndAbruptly([](COfflineMessageStore& store) {
        store.RemoveFirstMessages("bob@example.com", 2);
        store.RemoveMessages("cid@example.com");
    });
}

// A messenger that ends abruptly keeps every message typed, and does not send
// again those it delivered.
TEST_F(OfflineStoreTest, MessagesReachTheFileAtEveryAddAndRemoval) {
    EXPECT_EQ(storetest::RunChildTest("OfflineStoreChild.AddsAndEndsAbruptly", path), 77u);
    EXPECT_NE(Dump().find("contact bob@example.com\nmessage rtf=0 text='one' objects=[]\n"
                          "message rtf=0 text='two' objects=[]\nmessage rtf=0 text='three' objects=[]\n"),
              std::string::npos)
        << Dump();
    {
        COfflineMessageStore store;
        ASSERT_EQ(store.Open(path.c_str()), 1);
        store.Load("me@example.com");
        EXPECT_EQ(Texts(store.GetMessages("bob@example.com")), std::vector<std::string>({"one", "two", "three"}));
        EXPECT_EQ(Texts(store.GetMessages("cid@example.com")), std::vector<std::string>({"for cid"}));
    }  // gone without a save, as the child did

    EXPECT_EQ(storetest::RunChildTest("OfflineStoreChild.DeliversAndEndsAbruptly", path), 77u);
    COfflineMessageStore store;
    ASSERT_EQ(store.Open(path.c_str()), 1);
    store.Load("me@example.com");
    EXPECT_EQ(Texts(store.GetMessages("bob@example.com")), std::vector<std::string>({"three"}));
    EXPECT_EQ(store.GetMessages("cid@example.com"), nullptr);
    store.Close();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(Dump(), "userids last=1\naccount me@example.com 1\n1: messages(44)\n1/messages\n"
                      "contact bob@example.com\nmessage rtf=0 text='three' objects=[]\n");
}

TEST_F(OfflineStoreTest, DamagedFilesAreReportedAndLeftAsTheyWere) {
    {
        COfflineMessageStore store;
        ASSERT_EQ(store.Open(path.c_str()), 1);
        store.Load("me@example.com");
        store.AddMessage("bob@example.com", Plain("a message worth keeping"));
        store.Close();
    }
    const Bytes good = storetest::ReadFileBytes(path);
    // The stream itself damaged (rewrites leave copies of the text in freed
    // sectors, so the file's bytes are not patched in place).
    PendingMessages one;
    one["bob@example.com"].push_back(Plain("a message worth keeping"));
    Bytes stream = EncodeOfflineMessages(one);
    stream[stream.size() - 4 - 23 - 2] ^= 0x40; // text length far beyond the stream
    storetest::WriteStoreFile(path, {{"me@example.com", 1, {{L"messages", stream}}}});
    const Bytes flipped = storetest::ReadFileBytes(path);

    const Bytes truncated(good.begin(), good.begin() + good.size() / 2);
    const std::string foreignText = "not a compound file\r\n";
    const Bytes foreign(foreignText.begin(), foreignText.end());

    struct Case {
        const char* what;
        Bytes data;
        const char* message;
    };
    const Case cases[] = {
        {"flipped", flipped, "Failed to read offline messages. Code: 0x8003001E"},
        {"truncated", truncated, "Failed to open storage "},
        {"foreign", foreign, "Failed to open storage "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        storetest::WriteFileBytes(path, c.data);
        messages.Clear();
        {
            COfflineMessageStore store;
            store.Open(path.c_str());
            store.Load("me@example.com");
            EXPECT_FALSE(store.IsLoaded());
            EXPECT_EQ(store.GetMessages("bob@example.com"), nullptr);
            EXPECT_EQ(store.AddMessage("bob@example.com", Plain("lost")), nullptr);
            store.RemoveMessages("bob@example.com");
            store.Save();
            store.Close();
        }
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].text.rfind(c.message, 0), 0u) << messages.Messages()[0].text;
        EXPECT_EQ(messages.Messages()[0].caption, "Error");
        EXPECT_EQ(messages.Messages()[0].style, UINT(MB_TASKMODAL | MB_ICONERROR | MB_OK));
        EXPECT_TRUE(storetest::ReadFileBytes(path) == c.data) << "file changed";
    }
}

namespace {
// Saves fail while `failing` is set, as on a full disk.
class FailingSaveStore : public COfflineMessageStore {
public:
    bool failing = false;

protected:
    HRESULT WriteStream(IStorage* storage, const Bytes& data, ComPtr<IStream>& stream) override {
        if (failing) return STG_E_MEDIUMFULL;
        return COfflineMessageStore::WriteStream(storage, data, stream);
    }
};
} // namespace

// A save that fails at sign-out must not hand one account's messages to the
// next account, nor write them into its storage; they are saved under their
// own account once saving works again.
TEST_F(OfflineStoreTest, FailedSaveKeepsMessagesWithTheirAccount) {
    FailingSaveStore store;
    ASSERT_EQ(store.Open(path.c_str()), 1);
    store.Load("me@example.com");
    store.AddMessage("bob@example.com", Plain("for bob from me"));
    store.failing = true;
    store.Save();  // sign-out
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Failed to save offline messages. Code: 0x80030070");

    store.Load("other@example.com");  // the next account signs in, the disk still full
    EXPECT_TRUE(store.IsLoaded());
    EXPECT_EQ(store.LoadedAccount(), "other@example.com");
    EXPECT_EQ(store.GetMessages("bob@example.com"), nullptr);
    store.AddMessage("carol@example.com", Plain("for carol from other"));
    EXPECT_EQ(store.SetAsideCount(), 1u);

    store.failing = false;
    store.Save();  // the other account signs out: both reach their own storages
    EXPECT_EQ(store.SetAsideCount(), 0u);
    store.Load("me@example.com");
    EXPECT_EQ(Texts(store.GetMessages("bob@example.com")), std::vector<std::string>({"for bob from me"}));
    EXPECT_EQ(store.GetMessages("carol@example.com"), nullptr);
    store.Close();
    EXPECT_EQ(Dump(), "userids last=2\naccount me@example.com 1\naccount other@example.com 2\n"
                      "1: messages(54)\n1/messages\n"
                      "contact bob@example.com\nmessage rtf=0 text='for bob from me' objects=[]\n"
                      "2: messages(61)\n2/messages\n"
                      "contact carol@example.com\nmessage rtf=0 text='for carol from other' objects=[]\n");
}

// The same account signing in again after a failed save keeps what memory holds.
TEST_F(OfflineStoreTest, FailedSaveThenSameAccountKeepsItsMessages) {
    FailingSaveStore store;
    ASSERT_EQ(store.Open(path.c_str()), 1);
    store.Load("me@example.com");
    store.AddMessage("bob@example.com", Plain("kept"));
    store.failing = true;
    store.Save();
    store.Load("other@example.com");
    store.failing = false;
    store.Load("me@example.com");  // other's empty set saves; mine comes back from memory
    EXPECT_EQ(Texts(store.GetMessages("bob@example.com")), std::vector<std::string>({"kept"}));
    store.Close();
    EXPECT_NE(Dump().find("contact bob@example.com\nmessage rtf=0 text='kept'"), std::string::npos);
}

// A disk that keeps failing while messages are typed: one report, every
// message kept in memory and written once writing works again.
TEST_F(OfflineStoreTest, FailingWritesAreReportedOnceAndCaughtUpLater) {
    FailingSaveStore store;
    ASSERT_EQ(store.Open(path.c_str()), 1);
    store.Load("me@example.com");
    store.failing = true;
    store.AddMessage("bob@example.com", Plain("first"));
    store.AddMessage("bob@example.com", Plain("second"));
    store.RemoveFirstMessages("bob@example.com", 1);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Failed to save offline messages. Code: 0x80030070");
    EXPECT_EQ(Texts(store.GetMessages("bob@example.com")), std::vector<std::string>({"second"}));

    store.failing = false;
    store.AddMessage("bob@example.com", Plain("third"));
    store.failing = true;  // a new run of failures is reported again
    store.AddMessage("bob@example.com", Plain("fourth"));
    EXPECT_EQ(messages.Messages().size(), 2u);
    store.failing = false;
    store.Close();
    EXPECT_EQ(Dump(), "userids last=1\naccount me@example.com 1\n1: messages(80)\n1/messages\n"
                      "contact bob@example.com\nmessage rtf=0 text='second' objects=[]\n"
                      "message rtf=0 text='third' objects=[]\nmessage rtf=0 text='fourth' objects=[]\n");
}
