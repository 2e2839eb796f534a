#pragma once

// Builds BIFF records and compound files in memory, so that the reader tests
// can make exactly the structure (and the damage) each case needs.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QtEndian>

#include <cstdint>
#include <cstring>

namespace biffbuilder {

inline QByteArray u8(int v)
{
    return QByteArray(1, char(v & 0xFF));
}
inline QByteArray u16(int v)
{
    char b[2];
    qToLittleEndian<quint16>(quint16(v), b);
    return QByteArray(b, 2);
}
inline QByteArray u32(quint32 v)
{
    char b[4];
    qToLittleEndian<quint32>(v, b);
    return QByteArray(b, 4);
}
inline QByteArray f64(double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    char b[8];
    qToLittleEndian<quint64>(bits, b);
    return QByteArray(b, 8);
}

// One record: id, 16-bit length, body.
inline QByteArray rec(int id, const QByteArray &body)
{
    return u16(id) + u16(body.size()) + body;
}

// Cell header: row, column, XF index.
inline QByteArray rcx(int row, int col, int xf = 0)
{
    return u16(row) + u16(col) + u16(xf);
}

// BIFF8 string body: 16-bit count, flags, characters (compressed when all Latin-1).
inline QByteArray xlString(const QString &s, bool shortCount = false)
{
    bool latin1 = true;
    for (QChar c : s)
        latin1 = latin1 && c.unicode() < 0x100;
    QByteArray out = shortCount ? u8(s.size()) : u16(s.size());
    out += u8(latin1 ? 0 : 1);
    if (latin1) {
        out += s.toLatin1();
    } else {
        for (QChar c : s)
            out += u16(c.unicode());
    }
    return out;
}

// BOF of a BIFF8 (version 0x0600) or BIFF5 (0x0500) substream of type dt.
inline QByteArray bof(int version, int dt)
{
    QByteArray body = u16(version) + u16(dt) + u16(0x0DBB) + u16(0x07CC);
    if (version == 0x0600)
        body += u32(0) + u32(0x0006);
    return rec(0x0809, body);
}
inline QByteArray eof()
{
    return rec(0x000A, {});
}

// Sheets of a BIFF5/8 workbook: globals (without BOF/EOF and BOUNDSHEETs),
// then per sheet its name and body (without BOF/EOF). The BOUNDSHEET offsets
// are filled in.
struct SheetSpec
{
    QByteArray name; // BIFF8: UTF-16 text as QString::toUtf8; BIFF5: raw bytes
    QByteArray body;
    int type = 0;
    int state = 0;
    int dt = 0x0010;
};

inline QByteArray workbookStream(int version, const QByteArray &globals,
                                 const QList<SheetSpec> &sheets)
{
    auto boundSheet = [&](quint32 offset, const SheetSpec &s) {
        QByteArray body = u32(offset) + u8(s.state) + u8(s.type);
        if (version == 0x0600)
            body += xlString(QString::fromUtf8(s.name), true);
        else
            body += u8(s.name.size()) + s.name;
        return rec(0x0085, body);
    };
    // Measure the globals with placeholder offsets, then write them for real.
    QByteArray head = bof(version, 0x0005) + globals;
    int globalsSize = head.size() + eof().size();
    for (const SheetSpec &s : sheets)
        globalsSize += boundSheet(0, s).size();
    QByteArray out = head;
    quint32 offset = quint32(globalsSize);
    QByteArray bodies;
    for (const SheetSpec &s : sheets) {
        out += boundSheet(offset, s);
        const QByteArray sub = bof(version, s.dt) + s.body + eof();
        bodies += sub;
        offset += quint32(sub.size());
    }
    out += eof();
    return out + bodies;
}

// A compound file holding the given root-level streams. Streams shorter than
// 4096 bytes go into the mini stream. The directory is a chain of right
// siblings, which readers accept as a (degenerate) tree.
struct Cfb
{
    QByteArray bytes;
    // Sector numbers, for tests that damage the file on purpose.
    quint32 fatSector = 0;
    QList<quint32> streamFirstSector; // regular streams only, 0xFFFFFFFF for mini ones
    quint32 sectorSize = 512;

    quint32 fatEntryOffset(quint32 sector) const
    {
        return (fatSector + 1) * sectorSize + 4 * sector;
    }
};

inline Cfb buildCfb(const QList<QPair<QString, QByteArray>> &streams, int majorVersion = 3)
{
    constexpr quint32 kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSect = 0xFFFFFFFD;
    constexpr int kMiniCutoff = 4096, kMiniSize = 64;
    Cfb cfb;
    const quint32 ss = majorVersion == 4 ? 4096 : 512;
    cfb.sectorSize = ss;
    auto sectorsFor = [&](qint64 bytes) { return quint32((bytes + ss - 1) / ss); };

    QByteArray mini;
    QList<quint32> miniFat;
    QList<quint32> starts;
    for (const auto &s : streams) {
        if (s.second.size() >= kMiniCutoff || s.second.isEmpty()) {
            starts << kEnd;
            continue;
        }
        const quint32 first = quint32(mini.size() / kMiniSize);
        const int count = (s.second.size() + kMiniSize - 1) / kMiniSize;
        for (int i = 0; i < count; ++i)
            miniFat << (i + 1 < count ? first + i + 1 : kEnd);
        QByteArray padded = s.second;
        padded.append(QByteArray(count * kMiniSize - s.second.size(), '\0'));
        mini += padded;
        starts << first;
    }
    const quint32 dirSectors = sectorsFor((streams.size() + 1) * 128);
    const quint32 miniFatSectors = sectorsFor(miniFat.size() * 4);
    const quint32 miniSectors = sectorsFor(mini.size());
    quint32 dataSectors = 0;
    for (const auto &s : streams) {
        if (s.second.size() >= kMiniCutoff)
            dataSectors += sectorsFor(s.second.size());
    }
    const quint32 perFat = ss / 4;
    quint32 fatSectors = 1;
    while (fatSectors * perFat
           < fatSectors + dirSectors + miniFatSectors + miniSectors + dataSectors)
        ++fatSectors;
    const quint32 total = fatSectors + dirSectors + miniFatSectors + miniSectors + dataSectors;

    QList<quint32> fat;
    for (quint32 i = 0; i < fatSectors; ++i)
        fat << kFatSect;
    auto chain = [&](quint32 count) {
        const quint32 first = quint32(fat.size());
        for (quint32 i = 0; i < count; ++i)
            fat << (i + 1 < count ? first + i + 1 : kEnd);
        return count ? first : kEnd;
    };
    const quint32 dirStart = chain(dirSectors);
    const quint32 miniFatStart = chain(miniFatSectors);
    const quint32 miniStart = chain(miniSectors);
    QByteArray data;
    for (int i = 0; i < streams.size(); ++i) {
        const QByteArray &s = streams[i].second;
        if (s.size() >= kMiniCutoff) {
            starts[i] = chain(sectorsFor(s.size()));
            cfb.streamFirstSector << starts[i];
            QByteArray padded = s;
            padded.append(QByteArray(int(sectorsFor(s.size()) * ss) - s.size(), '\0'));
            data += padded;
        } else {
            cfb.streamFirstSector << 0xFFFFFFFFu;
        }
    }
    while (quint32(fat.size()) < fatSectors * perFat)
        fat << kFree;

    QByteArray header(int(ss), '\0');
    const unsigned char magic[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };
    std::memcpy(header.data(), magic, 8);
    auto put16 = [&](int off, int v) { header.replace(off, 2, u16(v)); };
    auto put32 = [&](int off, quint32 v) { header.replace(off, 4, u32(v)); };
    put16(24, 0x3E);
    put16(26, majorVersion);
    put16(28, 0xFFFE);
    put16(30, majorVersion == 4 ? 12 : 9);
    put16(32, 6);
    put32(40, majorVersion == 4 ? dirSectors : 0);
    put32(44, fatSectors);
    put32(48, dirStart);
    put32(56, kMiniCutoff);
    put32(60, miniFatSectors ? miniFatStart : kEnd);
    put32(64, miniFatSectors);
    put32(68, kEnd);
    put32(72, 0);
    for (int i = 0; i < 109; ++i)
        put32(76 + 4 * i, quint32(i) < fatSectors ? quint32(i) : kFree);

    QByteArray body;
    for (quint32 v : fat)
        body += u32(v);
    auto entry = [&](const QString &name, int type, quint32 right, quint32 child, quint32 start,
                     quint32 size) {
        QByteArray e(128, '\0');
        for (int i = 0; i < name.size() && i < 31; ++i)
            e.replace(2 * i, 2, u16(name[i].unicode()));
        e.replace(64, 2, u16((name.size() + 1) * 2));
        e[66] = char(type);
        e[67] = 1;
        e.replace(68, 4, u32(kFree));
        e.replace(72, 4, u32(right));
        e.replace(76, 4, u32(child));
        e.replace(116, 4, u32(start));
        e.replace(120, 4, u32(size));
        return e;
    };
    QByteArray dir = entry(QStringLiteral("Root Entry"), 5, kFree, streams.isEmpty() ? kFree : 1,
                           miniSectors ? miniStart : kEnd, quint32(mini.size()));
    for (int i = 0; i < streams.size(); ++i) {
        const quint32 right = i + 1 < streams.size() ? quint32(i + 2) : kFree;
        dir += entry(streams[i].first, 2, right, kFree, starts[i],
                     quint32(streams[i].second.size()));
    }
    dir.append(QByteArray(int(dirSectors * ss) - dir.size(), '\0'));
    body += dir;
    QByteArray mf;
    for (quint32 v : miniFat)
        mf += u32(v);
    mf.append(QByteArray(int(miniFatSectors * ss) - mf.size(), '\xFF'));
    body += mf;
    QByteArray ms = mini;
    ms.append(QByteArray(int(miniSectors * ss) - ms.size(), '\0'));
    body += ms;
    body += data;
    Q_ASSERT(quint32(body.size()) == total * ss);
    cfb.bytes = header + body;
    cfb.fatSector = 0;
    return cfb;
}

} // namespace biffbuilder
