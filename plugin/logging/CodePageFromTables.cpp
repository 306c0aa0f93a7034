// Code pages from the generated tables, for builds without Windows' own.
#include "plugin/logging/CodePage.h"
#include "plugin/logging/CodePageTables.h"

namespace parleym {

int SystemCodePage() { return 1252; }

bool LoadCodePage(int page, CodePage::Data& data) {
    for (std::size_t index = 0; index < kGeneratedCodePageCount; ++index) {
        const GeneratedCodePage& table = kGeneratedCodePages[index];
        if (table.page != page) continue;
        for (int byte = 0; byte < 256; ++byte) data.single[byte] = table.single[byte];
        const std::size_t trails = kLastTrail - kFirstTrail + 1;
        data.leads.assign(table.leads, table.leads + table.leadCount);
        data.rows.assign(table.leadCount * 256, table.undefined);
        for (std::size_t row = 0; row < table.leadCount; ++row) {
            // A lead byte alone reads as the default character; before a NUL
            // it stands alone, and the NUL too.
            data.single[table.leads[row]] = table.undefined;
            data.rows[row * 256] = 0;
            for (std::size_t trail = 0; trail < trails; ++trail)
                data.rows[row * 256 + kFirstTrail + trail] = table.pairs[row * trails + trail];
        }
        return true;
    }
    return false;
}

} // namespace parleym
