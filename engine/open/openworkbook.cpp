#include "open/openworkbook.h"

#include "io/byteorder.h"
#include "xls/xlsreader.h"
#include "xlsx/xlsxreader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sd {

std::unique_ptr<Workbook> openWorkbook(const std::string &path, Error *error)
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

    std::unique_ptr<Workbook> book;
    if (hasMagic(magic, n, kZipMagic))
        book = openXlsx(path, &err);
    else if (hasMagic(magic, n, kCfbMagic))
        book = openXls(path, &err); // the .xls reader also names encrypted OOXML packages
    else if (looksLikeBareBiff(magic, n))
        book = openXls(path, &err);
    else
        err = Error(ErrorCode::NotAWorkbook, path, "not an Excel workbook");
    if (book)
        book->path = path;
    return book;
}

// The model's spelling, kept for callers that name the class.
std::unique_ptr<Workbook> Workbook::open(const std::string &path, Error *error)
{
    return openWorkbook(path, error);
}

} // namespace sd
