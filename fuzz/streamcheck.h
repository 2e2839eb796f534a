#pragma once

// A differential check for the fuzz targets: every sheet of a workbook is
// written once as its reader hands the cells over (streamed, when the sheet
// allows it) and once after loading it whole. The two files must be the
// same bytes and fail or succeed together; anything else stops the run.

#include "core/csvwriter.h"
#include "core/csvwriter_p.h"
#include "core/model.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace fuzzcheck {

inline QString scratchFolder()
{
    static const QString folder = [] {
        sd::setCsvStreamFloor(0); // the inputs are small: stream them all
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                       : QDir::tempPath();
        const QString path
            = base + QStringLiteral("/sd-fuzz-%1").arg(QCoreApplication::applicationPid());
        QDir().mkpath(path);
        return path;
    }();
    return folder;
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void streamedEqualsWhole(const std::function<std::unique_ptr<sd::Workbook>()> &open)
{
    std::unique_ptr<sd::Workbook> streamed = open(), whole = open();
    if (!streamed || !whole)
        return;
    const QString a = scratchFolder() + QStringLiteral("/streamed.csv");
    const QString b = scratchFolder() + QStringLiteral("/whole.csv");
    for (int i = 0; i < int(streamed->sheets.size()); ++i) {
        QFile::remove(a);
        QFile::remove(b);
        const sd::Error ea = sd::writeSheetCsv(*streamed, i, a);
        sd::Error loadError;
        whole->sheet(i, &loadError);
        const sd::Error eb = sd::writeSheetCsv(*whole, i, b);
        if (bool(ea) != bool(eb) || (!ea && readAll(a) != readAll(b))) {
            std::fprintf(stderr, "sheet %d: streamed and whole output differ (%s / %s)\n", i,
                         ea.description().c_str(), eb.description().c_str());
            std::abort();
        }
    }
}

} // namespace fuzzcheck
