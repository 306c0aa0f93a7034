// Capture and replay on real rich-edit controls. Text and object positions are
// compared, never RTF bytes: each Rich Edit writes its own RTF.
#include <gtest/gtest.h>

#include <richedit.h>

#include <algorithm>

#include "plugin/logging/ObjectCache.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/RichEditBridge.h"
#include "tests/logging/RichEditTestSupport.h"

using namespace parleym_test;
using parleym::CRichEditBridge;
using parleym::CMessageContent;
using parleym::CObjectCache;

namespace {

class RichEditBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        cache.Open(folder.Path("objcache.dat").c_str());
        ASSERT_TRUE(cache.IsOpen());
    }

    // "Hi [smile] there [thumbs] and [smile] again", the way a history fills up.
    HWND ConversationWithThreePictures() {
        HWND history = host.AddRichEdit();
        AppendText(history, "Hi ");
        AppendPicture(history, "smile");
        AppendText(history, " there ");
        AppendPicture(history, "thumbs");
        AppendText(history, " and ");
        AppendPicture(history, "smile");
        AppendText(history, " again");
        return history;
    }

    OleEnvironment ole;
    TempFolder folder;
    RichEditHost host;
    CObjectCache cache;
};

TEST_F(RichEditBridgeTest, RtfCaptureReplaysSameTextAndPicturesAtSamePlaces) {
    HWND history = ConversationWithThreePictures();
    const auto shown = PicturesIn(history);
    ASSERT_EQ(shown.size(), 3u);

    CMessageContent content;
    CRichEditBridge capture(&cache, history, true);
    EXPECT_EQ(capture.Capture(content, true, true, false), 1);
    EXPECT_EQ(content.isRtf, 1);
    EXPECT_EQ(content.text.compare(0, 5, "{\\rtf"), 0);
    ASSERT_EQ(content.objects.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(content.objects[i].position, shown[i].position);
    // The same picture twice is stored once; every Add consumes a key.
    EXPECT_EQ(content.objects[0].key, content.objects[2].key);
    EXPECT_NE(content.objects[0].key, content.objects[1].key);
    EXPECT_EQ(cache.NextKey(), 3);

    HWND pane = host.AddRichEdit("RichEdit20A");
    CRichEditBridge replay(&cache, pane, true);
    EXPECT_EQ(replay.Replay(content, false), 1);
    EXPECT_EQ(ControlText(pane), ControlText(history));
    EXPECT_EQ(PicturesIn(pane), shown);

    capture.Release();
    replay.Release();
    cache.Close();
    EXPECT_EQ(StoragesInFile(folder.Path("objcache.dat")), 2);
}

TEST_F(RichEditBridgeTest, ReplayReplacesWhatThePaneShowed) {
    HWND history = ConversationWithThreePictures();
    CMessageContent content;
    CRichEditBridge(&cache, history, true).Capture(content, true, true, false);

    HWND pane = host.AddRichEdit("RichEdit20A");
    AppendText(pane, "an earlier conversation ");
    AppendPicture(pane, "heart");
    CRichEditBridge bridge(&cache, pane, true);
    bridge.Replay(content, false);
    EXPECT_EQ(ControlText(pane), ControlText(history));
    EXPECT_EQ(PicturesIn(pane), PicturesIn(history));

    // Empty content (an unknown or unreadable conversation) empties the pane.
    bridge.Replay(CMessageContent(), false);
    EXPECT_EQ(ControlText(pane), "");
    EXPECT_TRUE(PicturesIn(pane).empty());
}

TEST_F(RichEditBridgeTest, AppendPutsPicturesAfterExistingText) {
    HWND history = ConversationWithThreePictures();
    CMessageContent content;
    CRichEditBridge(&cache, history, true).Capture(content, true, true, false);

    HWND overlay = host.AddRichEdit("RichEdit20A");
    AppendText(overlay, "Earlier: ");
    AppendPicture(overlay, "heart");
    const LONG base = static_cast<LONG>(ControlText(overlay).size());
    CRichEditBridge(&cache, overlay, true).Replay(content, true);

    const auto pictures = PicturesIn(overlay);
    ASSERT_EQ(pictures.size(), 4u);
    EXPECT_EQ(pictures[0], (PlacedPicture{9, "heart"}));
    const auto original = PicturesIn(history);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pictures[i + 1].position, base + original[i].position);
        EXPECT_EQ(pictures[i + 1].name, original[i].name);
    }
    EXPECT_NE(ControlText(overlay).find("again"), std::string::npos);
}

TEST_F(RichEditBridgeTest, SelectionCaptureTakesOnlyPicturesInsideCountedFromItsStart) {
    HWND history = ConversationWithThreePictures();
    const auto shown = PicturesIn(history);
    // From just before the second picture up to (not including) the third.
    SendMessageA(history, EM_SETSEL, shown[1].position - 1, shown[2].position);

    CMessageContent content;
    CRichEditBridge(&cache, history, true).Capture(content, true, true, true);
    ASSERT_EQ(content.objects.size(), 1u);
    EXPECT_EQ(content.objects[0].position, 1);

    HWND target = host.AddRichEdit("RichEdit20A");
    CRichEditBridge(&cache, target, true).Replay(content, false);
    EXPECT_EQ(PicturesIn(target), (std::vector<PlacedPicture>{{1, "thumbs"}}));
}

TEST_F(RichEditBridgeTest, PlainTextCaptureIsReplayedAsText) {
    HWND input = host.AddRichEdit("RichEdit20W", false);
    AppendText(input, "see you {tomorrow} \\o/");

    CMessageContent content;
    CRichEditBridge(&cache, input, true).Capture(content, false, false, false);
    EXPECT_EQ(content.isRtf, 0);
    EXPECT_EQ(content.text, "see you {tomorrow} \\o/");
    EXPECT_TRUE(content.objects.empty());

    // Braces and backslashes stay text: it never goes through the RTF reader.
    HWND target = host.AddRichEdit("RichEdit20A");
    CRichEditBridge bridge(&cache, target, true);
    bridge.Replay(content, false);
    EXPECT_EQ(ControlText(target), content.text);
    bridge.Replay(content, true);
    EXPECT_EQ(ControlText(target), content.text + content.text);
}

TEST_F(RichEditBridgeTest, AnObjectTheCacheRefusesDoesNotCostThePicturesAfterIt) {
    HWND history = host.AddRichEdit();
    AppendText(history, "a drawing ");
    AppendPicture(history, "!ink");
    AppendText(history, " then a smile ");
    AppendPicture(history, "smile");

    CMessageContent content;
    CRichEditBridge(&cache, history, true).Capture(content, true, true, false);
    ASSERT_EQ(content.objects.size(), 1u);
    EXPECT_EQ(content.objects[0].position, PicturesIn(history)[1].position);
    cache.Close();
    EXPECT_EQ(StoragesInFile(folder.Path("objcache.dat")), 1);
}

TEST_F(RichEditBridgeTest, ObjectsTheCacheDoesNotKnowAreSkippedOnReplay) {
    HWND history = ConversationWithThreePictures();
    CMessageContent content;
    CRichEditBridge(&cache, history, true).Capture(content, true, true, false);
    content.objects[1].key = "999";

    HWND pane = host.AddRichEdit("RichEdit20A");
    CRichEditBridge(&cache, pane, true).Replay(content, false);
    std::vector<std::string> names;
    for (const auto& picture : PicturesIn(pane)) names.push_back(picture.name);
    // The unknown one leaves its placeholder, whatever the control made of it.
    EXPECT_EQ(std::count(names.begin(), names.end(), "smile"), 2);
    EXPECT_EQ(std::count(names.begin(), names.end(), "thumbs"), 0);
}

TEST_F(RichEditBridgeTest, ReleaseClosesObjectsOnlyOfControlsItOwns) {
    HWND owned = host.AddRichEdit("RichEdit20A");
    ASSERT_TRUE(InsertTestPicture(owned, 0, "smile", REO_RESIZABLE));
    HWND borrowed = host.AddRichEdit("RichEdit20A");
    ASSERT_TRUE(InsertTestPicture(borrowed, 0, "smile", REO_RESIZABLE));

    auto closeCountOfFirst = [](HWND control) {
        IRichEditOle* ole = nullptr;
        SendMessageA(control, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(&ole));
        REOBJECT description{};
        description.cbStruct = sizeof(description);
        ole->GetObject(0, &description, REO_GETOBJ_POLEOBJ);
        int count = CloseCountOf(description.poleobj);
        description.poleobj->Release();
        ole->Release();
        return count;
    };

    CRichEditBridge(&cache, borrowed, true).Release();
    EXPECT_EQ(closeCountOfFirst(borrowed), 0);
    CRichEditBridge ownedBridge(&cache, owned, false);
    ownedBridge.Release();
    EXPECT_FALSE(ownedBridge.HasOleInterface());
    EXPECT_EQ(closeCountOfFirst(owned), 1);
}

} // namespace
