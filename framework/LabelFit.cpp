#include "framework/LabelFit.h"

#include <cstring>
#include <vector>

namespace parleym {
namespace {

std::vector<char> TextOf(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::vector<char> text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    GetWindowTextA(window, text.data(), length + 1);
    return text;
}

RECT RectInParent(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

} // namespace

SIZE LabelTextSize(HWND label) {
    SIZE size{0, 0};
    HDC dc = label ? GetDC(label) : nullptr;
    if (!dc) return size;
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    std::vector<char> text = TextOf(label);
    RECT line{0, 0, 0, 0};
    DrawTextA(dc, text.data(), -1, &line, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    // As wide as the label's own drawing (word breaks) needs to keep the text on one line,
    // which can be a little more than the text's extent.
    int width = line.right - line.left;
    for (int tries = 0; tries < 64; ++tries, ++width) {
        RECT wrapped{0, 0, width, 0};
        DrawTextA(dc, text.data(), -1, &wrapped, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
        if (wrapped.bottom - wrapped.top <= line.bottom - line.top) break;
    }
    // Wine's label breaks the line a few pixels before the text's extent says it must:
    // half an average character of room keeps the last one on the line.
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    width += (metrics.tmAveCharWidth + 1) / 2;
    if (previous) SelectObject(dc, previous);
    ReleaseDC(label, dc);
    size.cx = width;
    size.cy = line.bottom - line.top;
    return size;
}

void FitLabelToText(HWND label) {
    HWND parent = label ? GetParent(label) : nullptr;
    if (!parent) return;
    const SIZE text = LabelTextSize(label);
    RECT rect = RectInParent(label);
    const int height = rect.bottom - rect.top > text.cy ? rect.bottom - rect.top : text.cy;
    if (rect.right - rect.left < text.cx)
        SetWindowPos(label, nullptr, 0, 0, text.cx, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The same margin on the right as on the left.
    RECT client{};
    GetClientRect(parent, &client);
    const int needed = rect.left + text.cx + rect.left;
    if (needed > client.right) {
        RECT outer{};
        GetWindowRect(parent, &outer);
        SetWindowPos(parent, nullptr, 0, 0, outer.right - outer.left + needed - client.right, outer.bottom - outer.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

namespace {

BOOL CALLBACK FitOneLineLabel(HWND child, LPARAM) {
    char className[16] = {};
    GetClassNameA(child, className, sizeof(className));
    const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
    const LONG_PTR kind = style & SS_TYPEMASK;
    if (lstrcmpiA(className, "Static") != 0 || (kind != SS_LEFT && kind != SS_LEFTNOWORDWRAP)) return TRUE;
    std::vector<char> text = TextOf(child);
    // Labels of several lines are laid out as their templates say.
    if (text[0] == '\0' || strchr(text.data(), '\n')) return TRUE;
    RECT rect{};
    GetClientRect(child, &rect);
    if (rect.bottom >= 2 * LabelTextSize(child).cy) return TRUE;
    FitLabelToText(child);
    return TRUE;
}

} // namespace

void FitLabelsToText(HWND dialog) {
    if (dialog) EnumChildWindows(dialog, &FitOneLineLabel, 0);
}

void CentreLabel(HWND label) {
    HWND parent = label ? GetParent(label) : nullptr;
    if (!parent) return;
    const SIZE text = LabelTextSize(label);
    RECT client{};
    GetClientRect(parent, &client);
    SetWindowPos(label, nullptr, (client.right - text.cx) / 2, (client.bottom - text.cy) / 2, text.cx, text.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace parleym
