#include "xls/codepage.h"

#include <QByteArray>
#include <QString>
#include <QTextCodec>

namespace sd {

namespace {

QTextCodec *firstCodec(std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        if (QTextCodec *codec = QTextCodec::codecForName(name))
            return codec;
    }
    return nullptr;
}

} // namespace

QTextCodec *codecForCodePage(uint16_t codePage)
{
    switch (codePage) {
    case 367: return firstCodec({"US-ASCII", "windows-1252"});
    case 932: return firstCodec({"windows-31j", "Shift_JIS"});
    case 936: return firstCodec({"GBK", "GB18030"});
    case 949: return firstCodec({"windows-949", "cp949", "EUC-KR"});
    case 950: return firstCodec({"Big5", "Big5-HKSCS"});
    case 1361: return firstCodec({"johab", "x-johab"});
    case kCodePageUtf16: return firstCodec({"UTF-16LE"});
    case kCodePageMacRoman:
    case kCodePageBiffMacRoman: return firstCodec({"macintosh", "Apple Roman"});
    case 10001: return firstCodec({"x-mac-japanese", "Shift_JIS"});
    case 10004: return firstCodec({"x-mac-arabic"});
    case 10005: return firstCodec({"x-mac-hebrew"});
    case 10006: return firstCodec({"x-mac-greek"});
    case 10007: return firstCodec({"x-mac-cyrillic"});
    case 10029: return firstCodec({"x-mac-centraleurroman"});
    case 10079: return firstCodec({"x-mac-icelandic"});
    case 10081: return firstCodec({"x-mac-turkish"});
    case kCodePageBiffWindows1252: return firstCodec({"windows-1252"});
    case 874: return firstCodec({"windows-874", "TIS-620"});
    default: break;
    }
    if (codePage >= 1250 && codePage <= 1258) {
        const std::string name = "windows-" + std::to_string(codePage);
        return QTextCodec::codecForName(name.c_str());
    }
    if (codePage >= 437 && codePage <= 869) {
        const std::string ibm = "IBM" + std::to_string(codePage);
        const std::string cp = "cp" + std::to_string(codePage);
        return firstCodec({ibm.c_str(), cp.c_str()});
    }
    return nullptr;
}

void appendCodePageText(QTextCodec *codec, const char *data, size_t size, std::string &out)
{
    // ASCII passes through every code page we map except UTF-16.
    bool ascii = codec == nullptr || codec->mibEnum() != 1014;
    for (size_t i = 0; ascii && i < size; ++i)
        ascii = static_cast<unsigned char>(data[i]) < 0x80;
    if (ascii) {
        out.append(data, size);
        return;
    }
    static QTextCodec *const fallback = QTextCodec::codecForName("windows-1252");
    QTextCodec *c = codec ? codec : fallback;
    const QByteArray utf8 = c->toUnicode(data, int(size)).toUtf8();
    out.append(utf8.constData(), size_t(utf8.size()));
}

} // namespace sd
