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

    // Appends the cell's displayed text (UTF-8) to `out`.
    void append(const Cell &cell, std::string &out);
    // The cell's displayed text (UTF-8).
    std::string text(const Cell &cell);

    // The parsed format that cells with this xf index use.
    const NumberFormat &formatForXf(uint32_t xf);

private:
    const NumberFormat &formatForCode(const std::string &code);

    const Workbook &m_book;
    std::vector<const NumberFormat *> m_xfFormats; // by xf index, filled on first use
    std::unordered_map<std::string, std::unique_ptr<NumberFormat>> m_byCode;
    const NumberFormat *m_general = nullptr;
};

} // namespace sd
