#pragma once
// Report-view list controls, borrowed from a dialog: columns, rows with item
// data, selection and check boxes.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

namespace parleym {

class CListView {
public:
    CListView() = default;
    explicit CListView(HWND list) : list_(list) {}
    void Attach(HWND list) { list_ = list; }
    HWND GetSafeHwnd() const { return list_; }

    void SetExtendedStyle(DWORD style) const;
    int InsertColumn(int column, const std::string& heading, int width, int format = LVCFMT_LEFT) const;
    // Appends at `row` (or the end when row is past it); returns the row or -1.
    int InsertItem(int row, const std::string& text, LPARAM data = 0, int image = -1) const;
    bool SetItemText(int row, int column, const std::string& text) const;
    std::string GetItemText(int row, int column) const;
    LPARAM GetItemData(int row) const;
    int FindItemByData(LPARAM data) const;
    bool DeleteItem(int row) const;
    bool DeleteAllItems() const;
    int GetItemCount() const;
    int GetSelectedRow() const;  // first selected, -1 if none
    std::vector<int> GetSelectedRows() const;
    void SelectRow(int row, bool selected = true) const;
    bool GetCheck(int row) const;
    void SetCheck(int row, bool checked) const;

private:
    HWND list_ = nullptr;
};

} // namespace parleym
