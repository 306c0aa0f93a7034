#pragma once
// Panes of a frame or splitter: a plain view drawn by its owner, and a view
// that is itself a tree control.
#include "framework/Window.h"

namespace parleym {

class CView : public CWindow {
public:
    // Creates the view as a child of `parent` with the control identifier `id`.
    virtual bool Create(HWND parent, UINT id, const RECT& rect, DWORD style = WS_CHILD | WS_VISIBLE);
};

// A tree control that serves as a view. Its notifications go to its parent
// (the splitter passes them on to the frame).
class CTreeView : public CView {
public:
    bool Create(HWND parent, UINT id, const RECT& rect,
                DWORD style = WS_CHILD | WS_VISIBLE | WS_BORDER) override;
    UINT ControlId() const { return static_cast<UINT>(GetDlgCtrlID(GetSafeHwnd())); }
    void AddStyle(DWORD style) const;

    HTREEITEM InsertItem(const std::string& text, int image, HTREEITEM parent = TVI_ROOT,
                         HTREEITEM after = TVI_LAST, LPARAM data = 0) const;
    bool DeleteAllItems() const;
    bool Expand(HTREEITEM item, UINT action = TVE_EXPAND) const;
    LPARAM GetItemData(HTREEITEM item) const;
    HTREEITEM GetSelectedItem() const;
    bool SelectItem(HTREEITEM item) const;
    HTREEITEM GetRootItem() const;
    HTREEITEM GetChildItem(HTREEITEM item) const;
    HTREEITEM GetNextSiblingItem(HTREEITEM item) const;
    std::string GetItemText(HTREEITEM item) const;
    HIMAGELIST SetImageList(HIMAGELIST images, int kind = TVSIL_NORMAL) const;
    UINT GetCount() const;

    ~CTreeView() override;

private:
    bool ownsControl_ = false;
};

} // namespace parleym
