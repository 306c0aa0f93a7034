#include "plugin/messaging/ListViewSort.h"

#include <commctrl.h>
#include <mbstring.h>

#include <string>
#include <vector>

namespace parleym {
namespace {

// Focus, selection, cut and highlight, overlay and state image travel with a row.
constexpr UINT kExchangedStates = 0xFF0F;

int ColumnCount(HWND list) {
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    return header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

std::string CellText(HWND list, int row, int column) {
    std::vector<char> buffer(1024, '\0');
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return std::string(buffer.data());
}

// Case-insensitive, in the system's multi-byte code page.
int Compare(const std::string& a, const std::string& b) {
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a.c_str()), reinterpret_cast<const unsigned char*>(b.c_str()));
}

struct RowCopy {
    std::vector<std::string> texts;
    LVITEMA item{};
};

RowCopy ReadRow(HWND list, int row, int columns) {
    RowCopy copy;
    for (int column = 0; column < columns; ++column) copy.texts.push_back(CellText(list, row, column));
    copy.item.mask = LVIF_IMAGE | LVIF_PARAM | LVIF_STATE;
    copy.item.iItem = row;
    copy.item.stateMask = kExchangedStates;
    SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&copy.item));
    return copy;
}

void WriteRow(HWND list, int row, RowCopy& copy) {
    for (int column = 0; column < static_cast<int>(copy.texts.size()); ++column) {
        LVITEMA text{};
        text.iSubItem = column;
        text.pszText = const_cast<char*>(copy.texts[static_cast<size_t>(column)].c_str());
        SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&text));
    }
    copy.item.iItem = row;
    copy.item.iSubItem = 0;
    copy.item.stateMask = kExchangedStates;
    SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&copy.item));
}

void ExchangeRows(HWND list, int a, int b, int columns) {
    RowCopy first = ReadRow(list, a, columns);
    RowCopy second = ReadRow(list, b, columns);
    WriteRow(list, a, second);
    WriteRow(list, b, first);
}

void QuickSort(HWND list, int column, int columns, bool ascending, int first, int last) {
    const std::string pivot = CellText(list, (first + last) / 2, column);
    const int sign = ascending ? 1 : -1;
    int low = first, high = last;
    while (low <= high) {
        while (low < last && sign * Compare(CellText(list, low, column), pivot) < 0) ++low;
        while (high > first && sign * Compare(CellText(list, high, column), pivot) > 0) --high;
        if (low <= high) {
            // Rows whose texts are exactly equal stay where they are.
            if (CellText(list, low, column) != CellText(list, high, column)) ExchangeRows(list, low, high, columns);
            ++low;
            --high;
        }
    }
    if (first < high) QuickSort(list, column, columns, ascending, first, high);
    if (low < last) QuickSort(list, column, columns, ascending, low, last);
}

} // namespace

void SortListViewRows(HWND list, int column, bool ascending, int first, int last) {
    const int columns = ColumnCount(list);
    if (column < 0 || column >= columns) return;
    if (last == -1) last = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) - 1;
    if (first < 0 || first >= last) return;
    QuickSort(list, column, columns, ascending, first, last);
}

} // namespace parleym
