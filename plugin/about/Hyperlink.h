#pragma once
// Turns a static text control into a hyperlink: blue, underlined while the
// mouse is over it, hand cursor, and clicks reported to the parent as
// commands. Each window undoes its own subclassing when it is destroyed.
#include <windows.h>

namespace parleym {

constexpr char kHyperlinkOriginalProcProp[] = "_Hyperlink_Original_Proc_";
constexpr char kHyperlinkOriginalFontProp[] = "_Hyperlink_Original_Font_";
constexpr char kHyperlinkUnderlineFontProp[] = "_Hyperlink_Underline_Font_";
constexpr char kHyperlinkFromStaticProp[] = "_Hyperlink_From_Static_";

BOOL MakeHyperlink(HWND control);
BOOL MakeHyperlink(HWND dialog, int controlId);

// The link colour.
constexpr COLORREF kHyperlinkColour = RGB(0, 0, 192);

} // namespace parleym
