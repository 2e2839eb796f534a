#pragma once

#include <QString>

// What the UTF-8 pass did with one CSV file.
enum class Utf8PassResult {
    Unchanged, // valid UTF-8 (plain ASCII included): left byte for byte
    Rewritten, // decoded as GBK and written back as UTF-8 with CR LF line ends
    NotGbk, // neither valid UTF-8 nor GBK without an invalid sequence: left alone
    Unreadable, // could not be read: left alone
    WriteFailed, // the new text could not be written: the old file stays
};

// Re-encodes one CSV file as UTF-8 when it is not valid UTF-8 but is valid
// GBK. The text is read with CR LF as LF and written with each LF as CR LF
// (a CR on its own is kept), without a byte-order mark, through a temporary
// file renamed over the old one, so a failure never leaves it half written.
Utf8PassResult ReencodeCsvAsUtf8(const QString &path);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// truncated sequences).
bool IsValidUtf8(const char *data, qsizetype size);

// Whether the bytes follow the structure of code page 936: single bytes up to
// 0x80, and lead bytes 0x81-0xFE each followed by a trail byte 0x40-0xFE
// other than 0x7F.
bool IsValidGbk(const char *data, qsizetype size);
