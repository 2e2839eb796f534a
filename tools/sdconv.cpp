// sdconv [--sheet N] [--codec NAME] [--password PW]... [--quiet] [--stream-report]
//        WORKBOOK OUTDIR
//
// Opens a workbook with the built-in engine, prints its sheet list and writes
// every sheet (or sheet N, 0-based index into the sheet list) as
// OUTDIR/<index>.csv. Prints any error and the time taken; exits 1 on error.
// An encrypted workbook is tried with the default password, then each PW.
// --quiet prints only errors and writes each sheet as a conversion does (a
// sheet that can be streamed is streamed); otherwise each sheet is loaded
// first, so that loading and writing are timed apart. --stream-report
// prints, for each sheet the writer tried to stream, whether it did or why
// it wrote the sheet whole.

#include "core/csvwriter.h"
#include "core/csvwriter_p.h"
#include "core/model.h"
#include "open/openworkbook.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStringList>
#include <QTextCodec>

#include <cstdio>

namespace {

const char *kindName(sd::SheetKind kind)
{
    switch (kind) {
    case sd::SheetKind::Worksheet:
        return "worksheet";
    case sd::SheetKind::Chart:
        return "chart";
    case sd::SheetKind::Dialog:
        return "dialog";
    case sd::SheetKind::Macro:
        return "macro";
    case sd::SheetKind::Module:
        return "module";
    }
    return "?";
}

const char *stateName(sd::SheetState state)
{
    switch (state) {
    case sd::SheetState::Visible:
        return "visible";
    case sd::SheetState::Hidden:
        return "hidden";
    case sd::SheetState::VeryHidden:
        return "veryHidden";
    }
    return "?";
}

int usage()
{
    std::fprintf(stderr,
                 "usage: sdconv [--sheet N] [--codec NAME] [--password PW]... [--quiet] "
                 "[--stream-report] WORKBOOK OUTDIR\n");
    return 2;
}

struct Options
{
    int only = -1; // the one sheet to write, or every sheet
    bool quiet = false;
    QTextCodec *codec = nullptr;
    sd::crypto::PasswordList passwords;
    QString workbookPath;
    QString outDir;
};

// -1 when the options are good, otherwise the exit status.
int parseOptions(const QStringList &args, Options *o)
{
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--sheet") && i + 1 < args.size()) {
            bool ok = false;
            o->only = args[++i].toInt(&ok);
            if (!ok || o->only < 0)
                return usage();
        } else if (a == QLatin1String("--codec") && i + 1 < args.size()) {
            o->codec = QTextCodec::codecForName(args[++i].toLatin1());
            if (!o->codec) {
                std::fprintf(stderr, "sdconv: unknown codec %s\n", qPrintable(args[i]));
                return 2;
            }
        } else if (a == QLatin1String("--password") && i + 1 < args.size()) {
            o->passwords.push_back(args[++i].toStdU16String());
        } else if (a == QLatin1String("--quiet")) {
            o->quiet = true;
        } else if (a == QLatin1String("--stream-report")) {
            sd::setCsvStreamObserver([](int sheet, const char *outcome) {
                std::printf("stream\t%d\t%s\n", sheet, outcome);
            });
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage();
        } else {
            positional << a;
        }
    }
    if (positional.size() != 2)
        return usage();
    o->workbookPath = positional[0];
    o->outDir = positional[1];
    return -1;
}

// Loads and writes sheet i, printing its line; false on failure.
bool convertSheet(sd::Workbook &book, int i, const Options &o)
{
    const sd::SheetInfo &info = book.sheets[i];
    const QString target = QDir(o.outDir).filePath(QString::number(i) + QLatin1String(".csv"));
    // Load first, so that reading and writing are timed apart.
    QElapsedTimer phase;
    phase.start();
    sd::Error error;
    if (!o.quiet)
        book.sheet(i, &error);
    const qint64 loadMs = phase.restart();
    if (!error)
        error = sd::writeSheetCsv(book, i, target, o.codec);
    const qint64 writeMs = phase.elapsed();
    if (!o.quiet) {
        std::printf("%d\t%s\t%s\t%s", i, kindName(info.kind), stateName(info.state),
                    info.name.c_str());
        if (!error) {
            const sd::Sheet *sheet = book.sheet(i);
            const sd::CellRange r = sheet->usedRange();
            std::printf("\t%u x %u\t%zu cells\tload %lld ms\twrite %lld ms", r.rows(), r.columns(),
                        sheet->cells.size(), static_cast<long long>(loadMs),
                        static_cast<long long>(writeMs));
        }
        std::printf("\n");
    }
    if (error)
        std::fprintf(stderr, "sdconv: sheet %d: %s\n", i, error.description().c_str());
    return !error;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    const int optionsEnd = parseOptions(app.arguments().mid(1), &o);
    if (optionsEnd >= 0)
        return optionsEnd;
    if (!QDir().mkpath(o.outDir)) {
        std::fprintf(stderr, "sdconv: cannot create %s\n", qPrintable(o.outDir));
        return 1;
    }

    QElapsedTimer timer;
    timer.start();
    sd::Error error;
    auto book
        = sd::openWorkbook(QFile::encodeName(o.workbookPath).toStdString(), &error, o.passwords);
    if (!book) {
        std::fprintf(stderr, "sdconv: %s: %s\n", qPrintable(o.workbookPath),
                     error.description().c_str());
        return 1;
    }
    const qint64 openMs = timer.elapsed();
    int failures = 0;
    for (int i = 0; i < int(book->sheets.size()); ++i) {
        if ((o.only < 0 || i == o.only) && !convertSheet(*book, i, o))
            ++failures;
    }
    if (!o.quiet) {
        // Formulas that kept their cached value (or show none) and why.
        for (const std::string &note : book->calcNotes)
            std::printf("formula kept: %s\n", note.c_str());
        std::printf("open %lld ms, total %lld ms\n", static_cast<long long>(openMs),
                    static_cast<long long>(timer.elapsed()));
    }
    return failures ? 1 : 0;
}
