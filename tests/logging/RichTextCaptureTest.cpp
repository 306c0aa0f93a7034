// The rich-text reader over what a real rich-edit control writes when its
// content is logged: the text the user saw, with the stored object positions
// landing on the objects' places.
#include <gtest/gtest.h>

#include <richedit.h>

#include <string>

#include "plugin/logging/ObjectCache.h"
#include "plugin/logging/RichTextReader.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/RichEditBridge.h"
#include "tests/logging/RichEditTestSupport.h"

using parleym::CMessageContent;
using parleym::CObjectCache;

using namespace parleym_test;

namespace {

void AppendWide(HWND richEdit, const wchar_t* text) {
    SendMessageW(richEdit, EM_SETSEL, 0, -1);
    SendMessageW(richEdit, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    SendMessageW(richEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

// The control's text with paragraph ends as one character each, so indexes are
// character positions.
std::wstring PositionText(HWND richEdit) {
    std::wstring text(4096, L'\0');
    GETTEXTEX request{};
    request.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    request.flags = GT_DEFAULT;
    request.codepage = 1200;
    const LRESULT copied = SendMessageW(richEdit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request),
                                        reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

} // namespace

TEST(RichTextCapture, LoggedRtfReadsBackAsTheControlsText) {
    OleEnvironment ole;
    TempFolder folder;
    RichEditHost host;
    CObjectCache cache;
    cache.Open(folder.Path("objcache.dat").c_str());
    ASSERT_TRUE(cache.IsOpen());

    HWND history = host.AddRichEdit();
    AppendText(history, "Bob says:\r\n");
    AppendWide(history, L"\tCaf\u00e9 \u20ac {braces} back\\slash \u043f\u0440\u0438\u0432\u0435\u0442 \u65e5\u672c ");
    AppendPicture(history, "smile");
    AppendWide(history, L" \U0001F600 done\r\nnext line ");
    AppendPicture(history, "thumbs");

    CMessageContent content;
    parleym::CRichEditBridge bridge(&cache, history, true);
    bridge.Capture(content, true, true, false);
    ASSERT_EQ(content.objects.size(), 2u);

    const parleym::RichText read = parleym::ReadRichText(content.text);
    EXPECT_TRUE(read.wellFormed) << content.text;
    std::wstring expected = PositionText(history);
    ASSERT_FALSE(expected.empty());
    // The objects' characters are placeholders written without the objects;
    // the reader must count them where the control does.
    std::string text = read.text;
    for (auto it = content.objects.rbegin(); it != content.objects.rend(); ++it) {
        ASSERT_LT(static_cast<size_t>(it->position), expected.size());
        expected.replace(static_cast<size_t>(it->position), 1, L"#");
        const size_t at = parleym::Utf8OffsetOf(text, it->position);
        ASSERT_LT(at, text.size()) << content.text;
        const size_t next = parleym::Utf8OffsetOf(text, it->position + 1);
        text.replace(at, next - at, "#");
    }
    std::string shown = Utf8(expected);
    for (char& c : shown)
        if (c == '\r') c = '\n';
    // A control writes its final paragraph mark too; the text does not end with one.
    if (!text.empty() && text.back() == '\n' && (shown.empty() || shown.back() != '\n')) text.pop_back();
    EXPECT_EQ(text, shown) << content.text;

    bridge.Release();
    cache.Close();
}
