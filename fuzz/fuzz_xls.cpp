// libFuzzer target for the .xls reader: compound file, workbook globals and
// every sheet, then the displayed text of the first cells of each sheet.
#include "core/display.h"
#include "streamcheck.h"
#include "xls/xlsreader.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {
constexpr size_t kRenderedCellsPerSheet = 2000;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    sd::Error error;
    std::unique_ptr<sd::Workbook> book = sd::openXlsMemory(data, size, "fuzz.xls", &error);
    if (!book)
        return 0;
    fuzzcheck::streamedEqualsWhole([&] {
        sd::Error e;
        return sd::openXlsMemory(data, size, "fuzz.xls", &e);
    });
    sd::DisplayFormatter formatter(*book);
    std::string text;
    for (int i = 0; i < int(book->sheets.size()); ++i) {
        const sd::Sheet *sheet = book->sheet(i, &error);
        if (!sheet)
            continue;
        sheet->usedRange();
        for (size_t c = 0; c < sheet->cells.size() && c < kRenderedCellsPerSheet; ++c) {
            text.clear();
            formatter.append(sheet->cells[c], text);
        }
    }
    return 0;
}
