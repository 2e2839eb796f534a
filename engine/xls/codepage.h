#pragma once

// 8-bit text of BIFF2-7 workbooks, stored in the code page that the CODEPAGE
// record names.

#include <cstddef>
#include <cstdint>
#include <string>

class QTextCodec;

namespace sd {

// Code page ids as BIFF stores them.
constexpr uint16_t kCodePageWindows1252 = 1252;
constexpr uint16_t kCodePageMacRoman = 10000;
constexpr uint16_t kCodePageBiffMacRoman = 32768; // BIFF2-4 files from a Mac
constexpr uint16_t kCodePageBiffWindows1252 = 32769; // BIFF2-4 files from Windows

// Qt's codec for a BIFF code page id, or nullptr when Qt knows none (and for
// 1200, the UTF-16 of BIFF8, whose strings never go through a code page).
QTextCodec *codecForCodePage(uint16_t codePage);

// Decodes 8-bit text to UTF-8 (Windows-1252 when codec is nullptr).
void appendCodePageText(QTextCodec *codec, const char *data, size_t size, std::string &out);

} // namespace sd
