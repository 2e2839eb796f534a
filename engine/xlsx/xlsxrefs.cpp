#include "xlsx/xlsxsheetparser.h"

// Cell references of the sheet XML ("AB12", "B2:D5").

namespace sd {

void widenToArea(std::string_view ref, Sheet &out)
{
    const size_t colon = ref.find(':');
    const std::string_view parts[2]
        = { ref.substr(0, colon), colon == std::string_view::npos ? ref : ref.substr(colon + 1) };
    for (const std::string_view part : parts) {
        uint32_t col = 0, row = 0;
        bool hasRow = false;
        if (parseCellRef(part, col, row, hasRow) == RefStatus::Ok && hasRow)
            out.widen(row, col);
    }
}

RefStatus parseCellRef(std::string_view ref, uint32_t &col, uint32_t &row, bool &hasRow)
{
    size_t i = 0;
    uint32_t c = 0;
    bool outside = false;
    while (i < ref.size()
           && ((ref[i] >= 'A' && ref[i] <= 'Z') || (ref[i] >= 'a' && ref[i] <= 'z'))) {
        if (c <= kMaxColumns)
            c = c * 26 + uint32_t((ref[i] | 0x20) - 'a' + 1);
        ++i;
    }
    if (i == 0)
        return RefStatus::Malformed;
    outside = c > kMaxColumns;
    uint32_t r = 0;
    const size_t letters = i;
    while (i < ref.size() && ref[i] >= '0' && ref[i] <= '9') {
        if (r <= kMaxRows)
            r = r * 10 + uint32_t(ref[i] - '0');
        ++i;
    }
    if (i != ref.size())
        return RefStatus::Malformed;
    hasRow = i > letters;
    if (hasRow && r == 0)
        return RefStatus::Malformed;
    if (outside || r > kMaxRows)
        return RefStatus::OutsideGrid;
    col = c - 1;
    row = hasRow ? r - 1 : 0;
    return RefStatus::Ok;
}

} // namespace sd
