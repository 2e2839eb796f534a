#pragma once

#include <QString>

// What the UTF-8 pass did with one CSV file.
enum class Utf8PassResult {
    Unchanged, // valid UTF-8 (plain ASCII included): left byte for byte
    Rewritten, // decoded as GBK and written back as UTF-8, line ends as they were
    NotGbk, // neither valid UTF-8 nor GBK without an invalid sequence: left alone
    Unreadable, // could not be read: left alone
    WriteFailed, // the new text could not be written: the old file stays
};

// Re-encodes one CSV file as UTF-8 when it is not valid UTF-8 but is valid
// GBK. Only the encoding changes: every byte that is ASCII, CR and LF
// included, stays as it is, so line ends (CR LF after a row, a bare LF inside
// a quoted cell) are kept exactly. No byte-order mark. The new text goes
// through a temporary file renamed over the old one, so a failure never
// leaves it half written. For the results other than Unchanged and
// Rewritten, *problem (when given) says what went wrong.
Utf8PassResult ReencodeCsvAsUtf8(const QString &path, QString *problem = nullptr);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// truncated sequences).
bool IsValidUtf8(const char *data, qsizetype size);

// Whether the bytes follow the structure of code page 936: single bytes up to
// 0x80, and lead bytes 0x81-0xFE each followed by a trail byte 0x40-0xFE
// other than 0x7F.
bool IsValidGbk(const char *data, qsizetype size);
