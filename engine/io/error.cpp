#include "io/error.h"

namespace sd {

const char *errorCodeText(ErrorCode code)
{
    switch (code) {
    case ErrorCode::Ok:
        return "no error";
    case ErrorCode::CannotOpen:
        return "cannot open file";
    case ErrorCode::NotAWorkbook:
        return "not a workbook";
    case ErrorCode::Encrypted:
        return "encrypted workbook";
    case ErrorCode::PasswordNeeded:
        return "password needed";
    case ErrorCode::Corrupt:
        return "damaged workbook";
    case ErrorCode::TooLarge:
        return "workbook exceeds a limit";
    case ErrorCode::Unsupported:
        return "unsupported workbook feature";
    case ErrorCode::WriteFailed:
        return "cannot write file";
    }
    return "unknown error";
}

std::string Error::description() const
{
    std::string text = errorCodeText(code);
    if (!detail.empty())
        text += ": " + detail;
    if (!where.empty())
        text += " (" + where + ")";
    return text;
}

} // namespace sd
