#pragma once
// A status bar whose panes are named by string resources; pane 0 takes the
// room the others leave.
#include "framework/Window.h"

#include <string>
#include <vector>

namespace parleym {

class CStatusBar : public CWindow {
public:
    static constexpr UINT kStatusBarId = 0xE801;
    static constexpr UINT kSeparator = 0;

    ~CStatusBar() override;
    bool Create(HWND parent, UINT id = kStatusBarId);
    // One pane per identifier; each pane starts with its string resource
    // (kSeparator: empty) and the width of that text.
    bool SetIndicators(const UINT* ids, int count);
    int PaneCount() const { return static_cast<int>(widths_.size()); }
    bool SetPaneText(int pane, const std::string& text);
    std::string GetPaneText(int pane) const;
    void SetPaneWidth(int pane, int width);
    int GetPaneWidth(int pane) const;
    // Width of `text` in the status bar's font, in pixels.
    int TextWidth(const std::string& text) const;
    int Height() const;
    // Follows the parent's size; call from the parent's size handler.
    void Reposition();

private:
    void ApplyParts();

    std::vector<int> widths_;
    bool ownsControl_ = false;
};

} // namespace parleym
