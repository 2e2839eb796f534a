#include "xls/xlsreader.h"

namespace sd {

std::unique_ptr<Workbook> openXls(const std::string &path, Error *error)
{
    if (error)
        *error = Error(ErrorCode::Unsupported, path, "xls reader not built yet");
    return nullptr;
}

bool looksLikeBareBiff(const unsigned char *head, size_t size)
{
    // BOF of BIFF2 (0x0009), BIFF3 (0x0209), BIFF4 (0x0409).
    if (size < 4)
        return false;
    unsigned id = head[0] | (head[1] << 8);
    return id == 0x0009 || id == 0x0209 || id == 0x0409;
}

} // namespace sd
