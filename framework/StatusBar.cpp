#include "framework/StatusBar.h"

namespace parleym {
namespace {
constexpr int kPanePadding = 8;
}

CStatusBar::~CStatusBar() {
    HWND window = GetSafeHwnd();
    if (ownsControl_ && window && IsWindow(window)) ::DestroyWindow(window);
    Detach();
}

bool CStatusBar::Create(HWND parent, UINT id) {
    EnsureCommonControls();
    HWND bar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | CCS_BOTTOM | SBARS_SIZEGRIP, 0, 0,
                               0, 0, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), ResourceModule(),
                               nullptr);
    if (!bar) return false;
    Attach(bar);
    ownsControl_ = true;
    return true;
}

bool CStatusBar::SetIndicators(const UINT* ids, int count) {
    if (!GetSafeHwnd() || count < 1 || count > 255) return false;
    widths_.assign(static_cast<size_t>(count), 0);
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
        texts.push_back(ids[i] == kSeparator ? std::string() : LoadResourceString(ids[i]));
        widths_[static_cast<size_t>(i)] = ids[i] == kSeparator ? 0 : TextWidth(texts.back());
    }
    ApplyParts();
    for (int i = 0; i < count; ++i) SetPaneText(i, texts[static_cast<size_t>(i)]);
    return true;
}

bool CStatusBar::SetPaneText(int pane, const std::string& text) {
    if (pane < 0 || pane >= PaneCount()) return false;
    return SendMessageA(GetSafeHwnd(), SB_SETTEXTA, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(text.c_str())) !=
           0;
}

std::string CStatusBar::GetPaneText(int pane) const {
    if (pane < 0 || pane >= PaneCount()) return std::string();
    const LRESULT info = SendMessageA(GetSafeHwnd(), SB_GETTEXTLENGTHA, static_cast<WPARAM>(pane), 0);
    std::string text(static_cast<size_t>(LOWORD(info)) + 1, '\0');
    SendMessageA(GetSafeHwnd(), SB_GETTEXTA, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(LOWORD(info));
    return text;
}

void CStatusBar::SetPaneWidth(int pane, int width) {
    if (pane < 0 || pane >= PaneCount()) return;
    widths_[static_cast<size_t>(pane)] = width < 0 ? 0 : width;
    ApplyParts();
}

int CStatusBar::GetPaneWidth(int pane) const {
    if (pane < 0 || pane >= PaneCount()) return 0;
    return widths_[static_cast<size_t>(pane)];
}

int CStatusBar::TextWidth(const std::string& text) const {
    HWND window = GetSafeHwnd();
    HDC dc = GetDC(window);
    if (!dc) return 0;
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    if (previous) SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return size.cx;
}

int CStatusBar::Height() const {
    RECT rect{};
    if (!GetSafeHwnd() || !IsWindowVisible(GetSafeHwnd())) return 0;
    GetWindowRect(GetSafeHwnd(), &rect);
    return rect.bottom - rect.top;
}

void CStatusBar::Reposition() {
    if (!GetSafeHwnd()) return;
    SendMessageA(GetSafeHwnd(), WM_SIZE, 0, 0);
    ApplyParts();
}

void CStatusBar::ApplyParts() {
    if (!GetSafeHwnd() || widths_.empty()) return;
    RECT client{};
    GetClientRect(GetSafeHwnd(), &client);
    int others = 0;
    for (size_t i = 1; i < widths_.size(); ++i) others += widths_[i] + kPanePadding;
    std::vector<int> edges(widths_.size());
    int right = client.right - others;
    if (right < widths_[0]) right = widths_[0];
    edges[0] = right;
    for (size_t i = 1; i < widths_.size(); ++i) {
        right += widths_[i] + kPanePadding;
        edges[i] = right;
    }
    edges.back() = -1;
    SendMessageA(GetSafeHwnd(), SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

} // namespace parleym
