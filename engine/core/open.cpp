#include "core/model.h"
#include "xls/xlsreader.h"
#include "xlsx/xlsxreader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sd {

// The reader is chosen by the file's first bytes, not its name: .xls files
// that are really .xlsx packages (and the reverse) are common.
std::unique_ptr<Workbook> Workbook::open(const std::string &path, Error *error)
{
    Error dummy;
    Error &err = error ? *error : dummy;
    err = Error();
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        err = Error(ErrorCode::CannotOpen, path, std::strerror(errno));
        return nullptr;
    }
    unsigned char magic[8] = {};
    size_t n = std::fread(magic, 1, sizeof magic, f);
    std::fclose(f);

    static const unsigned char zipMagic[4] = { 'P', 'K', 3, 4 };
    static const unsigned char cfbMagic[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };
    std::unique_ptr<Workbook> book;
    if (n >= 4 && std::memcmp(magic, zipMagic, 4) == 0)
        book = openXlsx(path, &err);
    else if (n >= 8 && std::memcmp(magic, cfbMagic, 8) == 0)
        book = openXls(path, &err); // the .xls reader also names encrypted OOXML packages
    else if (looksLikeBareBiff(magic, n))
        book = openXls(path, &err);
    else
        err = Error(ErrorCode::NotAWorkbook, path, "not an Excel workbook");
    if (book)
        book->path = path;
    return book;
}

} // namespace sd
