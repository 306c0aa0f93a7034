// Code pages as Windows converts them. The one file of the portable library
// that calls Windows: the reader must decode as the system the logs come from.
#include "plugin/logging/CodePage.h"

#include <windows.h>

namespace parleym {

namespace {

bool Decode(int page, const char* bytes, int size, wchar_t* out, int room, int& count) {
    count = MultiByteToWideChar(static_cast<UINT>(page), 0, bytes, size, out, room);
    return count > 0;
}

} // namespace

int SystemCodePage() { return static_cast<int>(GetACP()); }

bool LoadCodePage(int page, CodePage::Data& data) {
    CPINFO info{};
    if (page <= 0 || page == CP_UTF8 || !GetCPInfo(static_cast<UINT>(page), &info) || info.MaxCharSize > 2)
        return false;
    for (int byte = 0; byte < 256; ++byte) {
        const char one = static_cast<char>(byte);
        wchar_t code = 0;
        int count = 0;
        data.single[byte] = Decode(page, &one, 1, &code, 1, count) ? static_cast<std::uint16_t>(code) : 0;
    }
    for (int range = 0; range + 1 < MAX_LEADBYTES && info.LeadByte[range]; range += 2)
        for (int lead = info.LeadByte[range]; lead <= info.LeadByte[range + 1] && lead < 256; ++lead)
            data.leads.push_back(static_cast<unsigned char>(lead));
    data.rows.assign(data.leads.size() * 256, 0);
    for (std::size_t row = 0; row < data.leads.size(); ++row) {
        const char lead = static_cast<char>(data.leads[row]);
        // A whole row at once; where a trail byte does not pair up, the count
        // is off and the row goes pair by pair.
        char bytes[2 * 255];
        for (int trail = 1; trail < 256; ++trail) {
            bytes[2 * (trail - 1)] = lead;
            bytes[2 * (trail - 1) + 1] = static_cast<char>(trail);
        }
        wchar_t codes[2 * 255];
        int count = 0;
        if (Decode(page, bytes, sizeof(bytes), codes, 2 * 255, count) && count == 255) {
            for (int trail = 1; trail < 256; ++trail)
                data.rows[row * 256 + static_cast<std::size_t>(trail)] = static_cast<std::uint16_t>(codes[trail - 1]);
            continue;
        }
        for (int trail = 1; trail < 256; ++trail) {
            if (Decode(page, bytes + 2 * (trail - 1), 2, codes, 2, count) && count == 1)
                data.rows[row * 256 + static_cast<std::size_t>(trail)] = static_cast<std::uint16_t>(codes[0]);
        }
    }
    return true;
}

} // namespace parleym
