#include "core/display.h"

#include "io/limits.h"

namespace sd {

namespace {

// Width of the column a cell is shown in, in characters.
constexpr size_t kColumnWidth = 255;

// The bytes of text that surely hold kMaxCellTextUnits UTF-16 units when
// there are that many: a unit takes at most three bytes of UTF-8.
constexpr size_t kCellTextBytes = 4 * kMaxCellTextUnits;

// Cuts the UTF-8 text from `from` on after `units` UTF-16 code units (a
// character beyond the Basic Multilingual Plane counts two), at a character
// boundary; a character that would straddle the cut goes.
void cutToUnits(std::string &text, size_t from, size_t units)
{
    if (text.size() - from <= units)
        return; // every unit takes a byte at least
    size_t counted = 0;
    for (size_t i = from; i < text.size(); ++i) {
        const uint8_t byte = uint8_t(text[i]);
        if ((byte & 0xC0) == 0x80)
            continue; // inside a character
        const size_t width = byte >= 0xF0 ? 2 : 1;
        if (counted + width > units) {
            text.resize(i);
            return;
        }
        counted += width;
    }
}

// Characters (UTF-8 sequences) in text from `from` on.
size_t characters(const std::string &text, size_t from)
{
    size_t n = 0;
    for (size_t i = from; i < text.size(); ++i)
        n += (uint8_t(text[i]) & 0xC0) != 0x80;
    return n;
}

} // namespace

DisplayFormatter::DisplayFormatter(const Workbook &book)
    : m_book(book)
{
    m_general = &formatForCode("General");
}

DisplayFormatter::~DisplayFormatter() = default;

const NumberFormat &DisplayFormatter::formatForCode(const std::string &code)
{
    auto it = m_byCode.find(code);
    if (it != m_byCode.end())
        return *it->second;
    // Rendering costs time in proportion to the code, for every cell, and
    // a parsed code memory in proportion to its length: codes longer than
    // the application accepts, or past the workbook's share, show General.
    if (m_general
        && (code.size() > kMaxFormatCodeBytes
            || m_parsedBytes + code.size() > kMaxParsedFormatBytes))
        return *m_general;
    m_parsedBytes += code.size();
    return *m_byCode.emplace(code, std::make_unique<NumberFormat>(code)).first->second;
}

const NumberFormat &DisplayFormatter::formatForXf(uint32_t xf)
{
    if (xf < m_xfFormats.size() && m_xfFormats[xf])
        return *m_xfFormats[xf];
    // Only xf indexes that exist in the table are cached; others show General.
    if (xf >= m_book.xfs.size())
        return *m_general;
    if (m_xfFormats.size() != m_book.xfs.size())
        m_xfFormats.resize(m_book.xfs.size(), nullptr);
    const int id = m_book.xfs[xf].numFmtId;
    const NumberFormat *format = m_general;
    // A code the workbook records for an id wins over the built-in table,
    // also below 164: the application shows "0." for zero through a file's
    // <numFmt numFmtId="2" formatCode="#0.#"/>, and ECMA-376 has the ids it
    // does not list (5-8) follow the recorded code. The application's own
    // files record only the ids it leaves to the writer's locale (the
    // currency and accounting ids 5-8 and 41-44: a rouble file keeps its
    // roubles) and ids of 164 and above, so no Excel-made CSV of the corpus
    // shows a restated id either way.
    auto custom = m_book.numFmts.find(id);
    if (custom != m_book.numFmts.end())
        format = &formatForCode(custom->second);
    else if (const char *builtin = builtinNumberFormat(id))
        format = &formatForCode(builtin);
    m_xfFormats[xf] = format;
    return *format;
}

void DisplayFormatter::append(const Cell &cell, std::string &out)
{
    switch (cell.type) {
    case CellType::Blank:
        return;
    case CellType::Number: {
        const size_t from = out.size();
        formatForXf(cell.xf).appendNumber(cell.number, m_book.date1904, out);
        // A number that does not fit its column shows as '#' across it; the
        // column is kColumnWidth characters wide. (Text overflows instead.)
        if (out.size() - from > kColumnWidth && characters(out, from) > kColumnWidth) {
            out.resize(from);
            out.append(kColumnWidth, '#');
        }
        return;
    }
    case CellType::Text:
        if (cell.text < m_book.strings.size())
            appendText(cell, m_book.strings[cell.text], out);
        return;
    case CellType::Bool:
        out += cell.number != 0 ? "TRUE" : "FALSE";
        return;
    case CellType::Error:
        // Converting an out-of-range double to an integer is undefined.
        out += cellErrorText(cell.number >= 0 && cell.number < 256 ? uint8_t(cell.number)
                                                                   : uint8_t(ErrNA));
        return;
    }
}

void DisplayFormatter::appendText(const Cell &cell, const std::string &text, std::string &out)
{
    const size_t from = out.size();
    formatForXf(cell.xf).appendText(text, out, kCellTextBytes);
    cutToUnits(out, from, kMaxCellTextUnits);
}

std::string DisplayFormatter::text(const Cell &cell)
{
    std::string out;
    append(cell, out);
    return out;
}

} // namespace sd
