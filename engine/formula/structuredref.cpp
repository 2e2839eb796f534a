#include "formula/structuredref.h"

#include <algorithm>

namespace sd::formula {

namespace {

void skipSpaces(std::string_view text, size_t &pos)
{
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
}

// One bracketed item at text[pos] ("[...]"), its escapes (' before [ ] # ')
// taken out.
bool bracketed(std::string_view text, size_t &pos, std::string &out)
{
    if (pos >= text.size() || text[pos] != '[')
        return false;
    ++pos;
    out.clear();
    while (pos < text.size()) {
        char c = text[pos++];
        if (c == ']')
            return true;
        if (c == '\'' && pos < text.size())
            c = text[pos++];
        out += c;
    }
    return false;
}

// A keyword (#All ... #This Row) or a column name into `s`.
void item(std::string text, StructuredRef &s, bool second)
{
    static const struct
    {
        const char *text;
        uint8_t part;
    } keywords[] = { { "#All", StructuredRef::All },
                     { "#Data", StructuredRef::Data },
                     { "#Headers", StructuredRef::Headers },
                     { "#Totals", StructuredRef::Totals },
                     { "#This Row", StructuredRef::ThisRow } };
    const size_t a = text.find_first_not_of(' '), b = text.find_last_not_of(' ');
    const std::string_view trimmed
        = a == std::string::npos ? std::string_view() : std::string_view(text).substr(a, b - a + 1);
    for (const auto &k : keywords) {
        if (compareText(trimmed, k.text) == 0) {
            s.parts |= k.part;
            return;
        }
    }
    (second ? s.last : s.first) = std::move(text);
}

int32_t columnIndex(const TableInfo &t, std::string_view name)
{
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (compareText(t.columns[i], name) == 0)
            return int32_t(i);
    return -1;
}

} // namespace

bool parseStructuredRef(std::string_view text, size_t &pos, StructuredRef &s)
{
    size_t p = pos + 1;
    skipSpaces(text, p);
    const bool nested = p < text.size()
        && (text[p] == '[' || (text[p] == '@' && p + 1 < text.size() && text[p + 1] == '['));
    std::string part;
    if (!nested) {
        // [Amount], [#Totals], [@Amount], [@], []
        if (!bracketed(text, pos, part))
            return false;
        if (!part.empty() && part[0] == '@') {
            s.parts |= StructuredRef::ThisRow;
            part.erase(0, 1);
        }
        if (!part.empty())
            item(std::move(part), s, false);
        return true;
    }
    // [[#Totals],[Amount]], [[Qty]:[Price]], [@[Unit Price]]
    pos = p;
    for (;;) {
        skipSpaces(text, pos);
        if (pos < text.size() && text[pos] == '@') {
            s.parts |= StructuredRef::ThisRow;
            ++pos;
            continue;
        }
        if (!bracketed(text, pos, part))
            return false;
        item(std::move(part), s, false);
        skipSpaces(text, pos);
        if (pos < text.size() && text[pos] == ':') {
            ++pos;
            skipSpaces(text, pos);
            if (!bracketed(text, pos, part))
                return false;
            item(std::move(part), s, true);
            skipSpaces(text, pos);
        }
        const char c = pos < text.size() ? text[pos++] : '\0';
        if (c == ']')
            return true;
        if (c != ',')
            return false;
    }
}

bool tableReference(const TableInfo &t, const StructuredRef &s, RefSpec &r)
{
    const int32_t first = int32_t(t.ref.firstRow), last = int32_t(t.ref.lastRow);
    const int32_t dataFirst = first + int32_t(t.headerRows);
    const int32_t dataLast = last - int32_t(t.totalsRows);
    int32_t r1 = dataFirst, r2 = dataLast;
    const uint8_t p = s.parts & ~StructuredRef::ThisRow;
    if (p & StructuredRef::All)
        r1 = first, r2 = last;
    else if (p == StructuredRef::Headers)
        r1 = first, r2 = dataFirst - 1;
    else if (p == StructuredRef::Totals)
        r1 = dataLast + 1, r2 = last;
    else if (p == (StructuredRef::Headers | StructuredRef::Data))
        r1 = first;
    else if (p == (StructuredRef::Data | StructuredRef::Totals))
        r2 = last;
    else if (p != 0 && p != StructuredRef::Data)
        return false;
    int32_t c1 = 0, c2 = int32_t(t.columns.size()) - 1;
    if (!s.first.empty()) {
        c1 = c2 = columnIndex(t, s.first);
        if (!s.last.empty())
            c2 = columnIndex(t, s.last);
    }
    if (r1 > r2 || c1 < 0 || c2 < 0)
        return false;
    r = RefSpec();
    r.sheet1 = r.sheet2 = int16_t(t.sheet);
    r.row1 = r1, r.row2 = r2;
    r.col1 = int32_t(t.ref.firstCol) + std::min(c1, c2);
    r.col2 = int32_t(t.ref.firstCol) + std::max(c1, c2);
    if (s.parts & StructuredRef::ThisRow) {
        r.row1 = r.row2 = 0;
        r.flags = RefSpec::Row1Rel | RefSpec::Row2Rel;
    }
    return true;
}

} // namespace sd::formula
