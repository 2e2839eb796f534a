#include "xls/codepage.h"

#include <QByteArray>
#include <QString>
#include <QTextCodec>

#include <unordered_map>

namespace sd {

namespace {

// Code pages and the names Qt knows them by. Names Qt lacks are left out on
// purpose: asking for one makes Qt print a warning on every lookup.
struct CodePageName
{
    uint16_t codePage;
    const char *name;
};
const CodePageName kCodePageNames[] = {
    { 367, "US-ASCII" },
    { 437, "IBM437" },
    { 775, "IBM775" },
    { 850, "IBM850" },
    { 852, "IBM852" },
    { 855, "IBM855" },
    { 857, "IBM857" },
    { 858, "IBM00858" },
    { 860, "IBM860" },
    { 861, "IBM861" },
    { 862, "IBM862" },
    { 863, "IBM863" },
    { 864, "IBM864" },
    { 865, "IBM865" },
    { 866, "IBM866" },
    { 869, "IBM869" },
    { 874, "windows-874" },
    { 932, "windows-31j" },
    { 936, "GBK" },
    { 949, "windows-949" },
    { 950, "Big5" },
    { 1250, "windows-1250" },
    { 1251, "windows-1251" },
    { 1252, "windows-1252" },
    { 1253, "windows-1253" },
    { 1254, "windows-1254" },
    { 1255, "windows-1255" },
    { 1256, "windows-1256" },
    { 1257, "windows-1257" },
    { 1258, "windows-1258" },
    { kCodePageMacRoman, "macintosh" },
    { 10001, "Shift_JIS" },
    { 10006, "x-mac-greek" },
    { 10007, "x-mac-cyrillic" },
    { 10029, "x-mac-centraleurroman" },
    { 10081, "x-mac-turkish" },
    { kCodePageBiffMacRoman, "macintosh" },
    { kCodePageBiffWindows1252, "windows-1252" },
};

} // namespace

QTextCodec *codecForCodePage(uint16_t codePage)
{
    // Looked up once; the table is read-only afterwards, so any thread may use it.
    static const std::unordered_map<uint16_t, QTextCodec *> codecs = [] {
        std::unordered_map<uint16_t, QTextCodec *> map;
        for (const CodePageName &entry : kCodePageNames) {
            if (QTextCodec *codec = QTextCodec::codecForName(entry.name))
                map.emplace(entry.codePage, codec);
        }
        return map;
    }();
    const auto it = codecs.find(codePage);
    return it == codecs.end() ? nullptr : it->second;
}

void appendCodePageText(QTextCodec *codec, const char *data, size_t size, std::string &out)
{
    // ASCII passes through every code page we map unchanged.
    bool ascii = true;
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
