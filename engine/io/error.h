#pragma once

#include <cstdint>
#include <string>

namespace sd {

// Error codes of the engine; one table in error.cpp maps them to text.
enum class ErrorCode : uint8_t {
    Ok,
    CannotOpen, // file missing or unreadable
    NotAWorkbook, // magic bytes match no supported format
    Encrypted, // protected with encryption this build cannot undo
    PasswordNeeded, // encrypted, and no password of the list opens it
    Corrupt, // structure damaged (where says what and where)
    TooLarge, // a limit was exceeded (rows, columns, inflated size, ratio)
    Unsupported, // a valid file using a feature we do not read
    WriteFailed, // the CSV file could not be written
};

// An error that says where: a code, the place (part name, record id, byte
// offset) and a short detail. Converts to true when it is an error.
struct Error
{
    ErrorCode code = ErrorCode::Ok;
    std::string where; // e.g. "xl/worksheets/sheet1.xml" or "record 0x0208 at 0x1a2c"
    std::string detail; // e.g. "unexpected end of data"

    Error() = default;
    Error(ErrorCode c, std::string w = {}, std::string d = {})
        : code(c)
        , where(std::move(w))
        , detail(std::move(d))
    {
    }
    explicit operator bool() const { return code != ErrorCode::Ok; }
    std::string description() const; // "encrypted workbook", "corrupt file: ... (where)"
};

const char *errorCodeText(ErrorCode code);

} // namespace sd
