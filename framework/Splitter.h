#pragma once
// A static splitter: one row of panes side by side, divided by bars the user
// can drag. Commands and notifications of the panes go on to the splitter's
// parent, so the frame handles them.
#include "framework/View.h"

#include <vector>

namespace parleym {

class CSplitterWnd : public CWindow {
public:
    static constexpr UINT kFirstPaneId = 0xE900;
    static constexpr int kBarWidth = 5;

    bool CreateStatic(HWND parent, int columns, UINT id = kFirstPaneId);
    // Creates `view` as the pane of column `column` with the identifier
    // kFirstPaneId + column; `idealWidth` is the pane's first width.
    bool CreateView(int column, CView& view, int idealWidth);
    CView* GetPane(int column) const;
    int ColumnCount() const { return static_cast<int>(panes_.size()); }
    int ColumnWidth(int column) const;
    void SetColumnWidth(int column, int width);
    void RecalcLayout();

protected:
    void OnSize(UINT type, int width, int height) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    struct Pane {
        CView* view = nullptr;
        int width = 0;
    };
    int BarAt(int x) const;

    std::vector<Pane> panes_;
    int draggedBar_ = -1;
};

} // namespace parleym
