#include "framework/View.h"

namespace parleym {

bool CView::Create(HWND parent, UINT id, const RECT& rect, DWORD style) {
    return CreateEx(0, "", style, rect, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

CTreeView::~CTreeView() {
    HWND window = GetSafeHwnd();
    if (ownsControl_ && window && IsWindow(window)) ::DestroyWindow(window);
    Detach();
}

bool CTreeView::Create(HWND parent, UINT id, const RECT& rect, DWORD style) {
    EnsureCommonControls();
    HWND tree = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "", style, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent,
                                reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), ResourceModule(), nullptr);
    if (!tree) return false;
    Attach(tree);
    ownsControl_ = true;
    return true;
}

void CTreeView::AddStyle(DWORD style) const {
    const LONG_PTR current = GetWindowLongPtrA(GetSafeHwnd(), GWL_STYLE);
    SetWindowLongPtrA(GetSafeHwnd(), GWL_STYLE, current | static_cast<LONG_PTR>(style));
}

HTREEITEM CTreeView::InsertItem(const std::string& text, int image, HTREEITEM parent, HTREEITEM after,
                                LPARAM data) const {
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = const_cast<char*>(text.c_str());
    insert.item.iImage = image;
    insert.item.iSelectedImage = image;
    insert.item.lParam = data;
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(GetSafeHwnd(), TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

bool CTreeView::DeleteAllItems() const {
    return SendMessageA(GetSafeHwnd(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT)) != 0;
}

bool CTreeView::Expand(HTREEITEM item, UINT action) const {
    return SendMessageA(GetSafeHwnd(), TVM_EXPAND, action, reinterpret_cast<LPARAM>(item)) != 0;
}

LPARAM CTreeView::GetItemData(HTREEITEM item) const {
    TVITEMA tv{};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    if (!SendMessageA(GetSafeHwnd(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv))) return 0;
    return tv.lParam;
}

HTREEITEM CTreeView::GetSelectedItem() const {
    return reinterpret_cast<HTREEITEM>(SendMessageA(GetSafeHwnd(), TVM_GETNEXTITEM, TVGN_CARET, 0));
}

bool CTreeView::SelectItem(HTREEITEM item) const {
    return SendMessageA(GetSafeHwnd(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0;
}

HTREEITEM CTreeView::GetRootItem() const {
    return reinterpret_cast<HTREEITEM>(SendMessageA(GetSafeHwnd(), TVM_GETNEXTITEM, TVGN_ROOT, 0));
}

HTREEITEM CTreeView::GetChildItem(HTREEITEM item) const {
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(GetSafeHwnd(), TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM CTreeView::GetNextSiblingItem(HTREEITEM item) const {
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(GetSafeHwnd(), TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
}

std::string CTreeView::GetItemText(HTREEITEM item) const {
    char buffer[512] = {};
    TVITEMA tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = buffer;
    tv.cchTextMax = sizeof(buffer);
    if (!SendMessageA(GetSafeHwnd(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv))) return std::string();
    return std::string(tv.pszText ? tv.pszText : "");
}

HIMAGELIST CTreeView::SetImageList(HIMAGELIST images, int kind) const {
    return reinterpret_cast<HIMAGELIST>(
        SendMessageA(GetSafeHwnd(), TVM_SETIMAGELIST, static_cast<WPARAM>(kind), reinterpret_cast<LPARAM>(images)));
}

UINT CTreeView::GetCount() const { return static_cast<UINT>(SendMessageA(GetSafeHwnd(), TVM_GETCOUNT, 0, 0)); }

} // namespace parleym
