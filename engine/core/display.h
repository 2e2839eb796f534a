#pragma once

// The displayed text of a cell: the value rendered through its number format,
// as the CSV writer and the conversion job see it.

#include "core/model.h"
#include "core/numfmt.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace sd {

// Renders cells of one workbook. Each distinct format code is parsed once and
// cached; the formatter is cheap to keep for the life of the workbook.
// Not thread-safe: use one formatter per thread.
class DisplayFormatter
{
public:
    explicit DisplayFormatter(const Workbook &book);
    ~DisplayFormatter();
    DisplayFormatter(const DisplayFormatter &) = delete;
    DisplayFormatter &operator=(const DisplayFormatter &) = delete;

    // Appends the cell's displayed text (UTF-8) to `out`: at most
    // kMaxCellTextUnits (32,767) UTF-16 code units of it, the application's
    // limit on a cell's text. Longer text, which only a format that repeats
    // the text ("@@") or a file written by another program can produce, is
    // cut after that many units, never inside a character: the first
    // 32,767 units are kept and the rest is left out, as the application
    // truncates text that passes its limit. Numbers wider than the column
    // show as '#' across it instead.
    void append(const Cell &cell, std::string &out);
    // The same for a Text cell whose text is given instead of read from
    // the workbook's strings.
    void appendText(const Cell &cell, const std::string &text, std::string &out);
    // The cell's displayed text (UTF-8).
    std::string text(const Cell &cell);

    // The parsed format that cells with this xf index use.
    const NumberFormat &formatForXf(uint32_t xf);

private:
    const NumberFormat &formatForCode(const std::string &code);

    const Workbook &m_book;
    std::vector<const NumberFormat *> m_xfFormats; // by xf index, filled on first use
    std::unordered_map<std::string, std::unique_ptr<NumberFormat>> m_byCode;
    size_t m_parsedBytes = 0; // of the codes in m_byCode, against kMaxParsedFormatBytes
    const NumberFormat *m_general = nullptr;
};

} // namespace sd
