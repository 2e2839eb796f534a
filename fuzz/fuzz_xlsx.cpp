// libFuzzer target for the whole .xlsx path: open a package from memory,
// load every sheet and render every cell's displayed text.
//
// An input that starts with "PK" is taken as the package itself (the zip
// layer is fuzzed). Any other input is split at "\n==\n" into the parts
// sheet1.xml, sharedStrings.xml, styles.xml and workbook.xml (empty or
// missing sections get a default) and wrapped in a stored zip here, so that
// mutations reach the XML parsers instead of dying in the inflater.
#include "core/display.h"
#include "storedzip.h"
#include "streamcheck.h"
#include "xlsx/xlsxreader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string packageFromParts(std::string_view input)
{
    std::vector<std::string> sections;
    for (;;) {
        const size_t cut = input.find("\n==\n");
        sections.emplace_back(input.substr(0, cut));
        if (cut == std::string_view::npos || sections.size() == 4)
            break;
        input.remove_prefix(cut + 4);
    }
    sections.resize(4);
    if (sections[3].empty())
        sections[3] = "<workbook><sheets><sheet name=\"S\" sheetId=\"1\" "
                      "r:id=\"rId1\"/></sheets></workbook>";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    return fuzzzip::storedZip({
        { "_rels/.rels",
          "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel
              + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>" },
        { "xl/_rels/workbook.xml.rels",
          "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel
              + "worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                "<Relationship Id=\"rId2\" Type=\""
              + rel
              + "sharedStrings\" Target=\"sharedStrings.xml\"/>"
                "<Relationship Id=\"rId3\" Type=\""
              + rel + "styles\" Target=\"styles.xml\"/></Relationships>" },
        { "xl/worksheets/sheet1.xml", sections[0] },
        { "xl/sharedStrings.xml", sections[1] },
        { "xl/styles.xml", sections[2] },
        { "xl/workbook.xml", sections[3] },
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string built;
    if (size < 2 || data[0] != 'P' || data[1] != 'K') {
        built = packageFromParts(std::string_view(reinterpret_cast<const char *>(data), size));
        data = reinterpret_cast<const uint8_t *>(built.data());
        size = built.size();
    }
    sd::Error error;
    auto book = sd::openXlsxBuffer(data, size, &error);
    if (!book)
        return 0;
    fuzzcheck::streamedEqualsWhole([&] {
        sd::Error e;
        return sd::openXlsxBuffer(data, size, &e);
    });
    sd::DisplayFormatter formatter(*book);
    std::string text;
    for (int i = 0; i < int(book->sheets.size()); ++i) {
        const sd::Sheet *sheet = book->sheet(i, &error);
        if (!sheet)
            continue;
        sheet->usedRange();
        for (const sd::Cell &cell : sheet->cells) {
            text.clear();
            formatter.append(cell, text);
        }
    }
    return 0;
}
