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

// The steps of buildCfb, one region of the file each.
namespace cfbsteps {

constexpr quint32 kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSect = 0xFFFFFFFD;
constexpr int kMiniCutoff = 4096, kMiniSize = 64;

using Streams = QList<QPair<QString, QByteArray>>;

// Where everything goes, worked out before a byte is written.
struct Layout
{
    quint32 ss = 512; // sector size
    QByteArray mini; // the mini stream, in whole 64-byte blocks
    QList<quint32> miniFat;
    QList<quint32> starts; // first (mini) sector of each stream, kEnd when none
    quint32 dirSectors = 0, miniFatSectors = 0, miniSectors = 0, dataSectors = 0;
    quint32 fatSectors = 0;
    QList<quint32> fat;
    quint32 dirStart = 0, miniFatStart = 0, miniStart = 0;
    QByteArray data; // the regular streams, each padded to whole sectors

    quint32 sectorsFor(qint64 bytes) const { return quint32((bytes + ss - 1) / ss); }
    quint32 total() const
    {
        return fatSectors + dirSectors + miniFatSectors + miniSectors + dataSectors;
    }
};

// Short streams go into the mini stream, chained in the mini FAT; empty and
// long ones get no mini blocks.
inline void packMiniStream(const Streams &streams, Layout &l)
{
    for (const auto &s : streams) {
        if (s.second.size() >= kMiniCutoff || s.second.isEmpty()) {
            l.starts << kEnd;
            continue;
        }
        const quint32 first = quint32(l.mini.size() / kMiniSize);
        const int count = (s.second.size() + kMiniSize - 1) / kMiniSize;
        for (int i = 0; i < count; ++i)
            l.miniFat << (i + 1 < count ? first + i + 1 : kEnd);
        QByteArray padded = s.second;
        padded.append(QByteArray(count * kMiniSize - s.second.size(), '\0'));
        l.mini += padded;
        l.starts << first;
    }
}

// Sizes every region in sectors; the FAT grows until it also covers itself.
inline void countSectors(const Streams &streams, Layout &l)
{
    l.dirSectors = l.sectorsFor((streams.size() + 1) * 128);
    l.miniFatSectors = l.sectorsFor(l.miniFat.size() * 4);
    l.miniSectors = l.sectorsFor(l.mini.size());
    l.dataSectors = 0;
    for (const auto &s : streams) {
        if (s.second.size() >= kMiniCutoff)
            l.dataSectors += l.sectorsFor(s.second.size());
    }
    const quint32 perFat = l.ss / 4;
    l.fatSectors = 1;
    while (l.fatSectors * perFat < l.total())
        ++l.fatSectors;
}

// Fills the FAT: its own sectors, then one chain each for the directory, the
// mini FAT, the mini stream and every regular stream, in file order.
inline void layOutFat(const Streams &streams, Layout &l, QList<quint32> &streamFirstSector)
{
    for (quint32 i = 0; i < l.fatSectors; ++i)
        l.fat << kFatSect;
    auto chain = [&](quint32 count) {
        const quint32 first = quint32(l.fat.size());
        for (quint32 i = 0; i < count; ++i)
            l.fat << (i + 1 < count ? first + i + 1 : kEnd);
        return count ? first : kEnd;
    };
    l.dirStart = chain(l.dirSectors);
    l.miniFatStart = chain(l.miniFatSectors);
    l.miniStart = chain(l.miniSectors);
    for (int i = 0; i < streams.size(); ++i) {
        const QByteArray &s = streams[i].second;
        if (s.size() >= kMiniCutoff) {
            l.starts[i] = chain(l.sectorsFor(s.size()));
            streamFirstSector << l.starts[i];
            QByteArray padded = s;
            padded.append(QByteArray(int(l.sectorsFor(s.size()) * l.ss) - s.size(), '\0'));
            l.data += padded;
        } else {
            streamFirstSector << 0xFFFFFFFFu;
        }
    }
    const quint32 perFat = l.ss / 4;
    while (quint32(l.fat.size()) < l.fatSectors * perFat)
        l.fat << kFree;
}

// The header sector, with every FAT sector listed in its DIFAT.
inline QByteArray headerSector(const Layout &l, int majorVersion)
{
    QByteArray header(int(l.ss), '\0');
    const unsigned char magic[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };
    std::memcpy(header.data(), magic, 8);
    auto put16 = [&](int off, int v) { header.replace(off, 2, u16(v)); };
    auto put32 = [&](int off, quint32 v) { header.replace(off, 4, u32(v)); };
    put16(24, 0x3E);
    put16(26, majorVersion);
    put16(28, 0xFFFE);
    put16(30, majorVersion == 4 ? 12 : 9);
    put16(32, 6);
    put32(40, majorVersion == 4 ? l.dirSectors : 0);
    put32(44, l.fatSectors);
    put32(48, l.dirStart);
    put32(56, kMiniCutoff);
    put32(60, l.miniFatSectors ? l.miniFatStart : kEnd);
    put32(64, l.miniFatSectors);
    put32(68, kEnd);
    put32(72, 0);
    for (int i = 0; i < 109; ++i)
        put32(76 + 4 * i, quint32(i) < l.fatSectors ? quint32(i) : kFree);
    return header;
}

inline QByteArray dirEntry(const QString &name, int type, quint32 right, quint32 child,
                           quint32 start, quint32 size)
{
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
}

// The root entry, then the streams as a chain of right siblings, padded to
// whole sectors.
inline QByteArray directory(const Streams &streams, const Layout &l)
{
    QByteArray dir = dirEntry(QStringLiteral("Root Entry"), 5, kFree, streams.isEmpty() ? kFree : 1,
                              l.miniSectors ? l.miniStart : kEnd, quint32(l.mini.size()));
    for (int i = 0; i < streams.size(); ++i) {
        const quint32 right = i + 1 < streams.size() ? quint32(i + 2) : kFree;
        dir += dirEntry(streams[i].first, 2, right, kFree, l.starts[i],
                        quint32(streams[i].second.size()));
    }
    dir.append(QByteArray(int(l.dirSectors * l.ss) - dir.size(), '\0'));
    return dir;
}

// Everything after the header: FAT, directory, mini FAT, mini stream, data.
inline QByteArray bodySectors(const Streams &streams, const Layout &l)
{
    QByteArray body;
    for (quint32 v : l.fat)
        body += u32(v);
    body += directory(streams, l);
    QByteArray mf;
    for (quint32 v : l.miniFat)
        mf += u32(v);
    mf.append(QByteArray(int(l.miniFatSectors * l.ss) - mf.size(), '\xFF'));
    body += mf;
    QByteArray ms = l.mini;
    ms.append(QByteArray(int(l.miniSectors * l.ss) - ms.size(), '\0'));
    body += ms;
    body += l.data;
    Q_ASSERT(quint32(body.size()) == l.total() * l.ss);
    return body;
}

} // namespace cfbsteps

inline Cfb buildCfb(const QList<QPair<QString, QByteArray>> &streams, int majorVersion = 3)
{
    Cfb cfb;
    cfbsteps::Layout layout;
    layout.ss = majorVersion == 4 ? 4096 : 512;
    cfb.sectorSize = layout.ss;
    cfbsteps::packMiniStream(streams, layout);
    cfbsteps::countSectors(streams, layout);
    cfbsteps::layOutFat(streams, layout, cfb.streamFirstSector);
    cfb.bytes
        = cfbsteps::headerSector(layout, majorVersion) + cfbsteps::bodySectors(streams, layout);
    cfb.fatSector = 0;
    return cfb;
}

} // namespace biffbuilder
