#include "plugin/stats/StatsListSort.h"

#include <commctrl.h>
#include <mbstring.h>

#include <algorithm>
#include <string>
#include <vector>

namespace parleym {

namespace {

struct Row {
    std::vector<std::string> texts;
    int image = 0;
    UINT state = 0;
    LPARAM data = 0;
};

std::string CellText(HWND list, int row, int column) {
    // Grow until the text fits: the list copies at most the buffer's size.
    for (size_t size = 256;; size *= 4) {
        std::vector<char> buffer(size, '\0');
        LVITEMA item{};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(size);
        const LRESULT length =
            SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        if (length < 0) return std::string();
        if (static_cast<size_t>(length) + 1 < size || size >= (1u << 20))
            return std::string(buffer.data(), static_cast<size_t>(length));
    }
}

Row ReadRow(HWND list, int row, int columns) {
    Row out;
    for (int column = 0; column < columns; ++column) out.texts.push_back(CellText(list, row, column));
    LVITEMA item{};
    item.mask = LVIF_IMAGE | LVIF_STATE | LVIF_PARAM;
    item.iItem = row;
    item.stateMask = static_cast<UINT>(-1);
    if (SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) {
        out.image = item.iImage;
        out.state = item.state;
        out.data = item.lParam;
    }
    return out;
}

void WriteRow(HWND list, int row, const Row& in) {
    for (size_t column = 0; column < in.texts.size(); ++column) {
        LVITEMA text{};
        text.iSubItem = static_cast<int>(column);
        text.pszText = const_cast<char*>(in.texts[column].c_str());
        SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&text));
    }
    LVITEMA item{};
    item.mask = LVIF_IMAGE | LVIF_STATE | LVIF_PARAM;
    item.iItem = row;
    item.iImage = in.image;
    item.state = in.state;
    item.stateMask = static_cast<UINT>(-1);
    item.lParam = in.data;
    SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

} // namespace

void SortListByText(HWND list, int column, bool ascending, int low, int high) {
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    const int columns = header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    if (column < 0 || column >= columns) return;
    if (high == -1) high = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) - 1;
    if (low < 0 || low >= high) return;

    // Read once, sort in memory, write back once: a few messages per row
    // instead of several per comparison.
    std::vector<Row> rows;
    rows.reserve(static_cast<size_t>(high - low + 1));
    for (int row = low; row <= high; ++row) rows.push_back(ReadRow(list, row, columns));
    const size_t key = static_cast<size_t>(column);
    std::stable_sort(rows.begin(), rows.end(), [key, ascending](const Row& a, const Row& b) {
        const int order = _mbsicmp(reinterpret_cast<const unsigned char*>(a.texts[key].c_str()),
                                   reinterpret_cast<const unsigned char*>(b.texts[key].c_str()));
        return ascending ? order < 0 : order > 0;
    });
    for (int row = low; row <= high; ++row) WriteRow(list, row, rows[static_cast<size_t>(row - low)]);
}

} // namespace parleym
