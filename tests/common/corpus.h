#pragma once

// Where the tests find the shared workbook corpus (../shared/corpus beside
// the source tree; cmake/SheetDrainTest.cmake passes the path in), and what
// a test does when it is not there: outside CI it skips and says why; with
// CI=true in the environment it fails, so that a CI run never passes without
// having read the corpus.

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QtTest>

namespace sdtest {

inline QString corpusDir()
{
    return QDir::cleanPath(QStringLiteral(SHEETDRAIN_SHARED_DIR "/corpus"));
}

// A path inside the corpus; `relative` may be empty for the corpus itself.
inline QString corpusPath(const QString &relative = QString())
{
    return relative.isEmpty() ? corpusDir() : corpusDir() + QLatin1Char('/') + relative;
}

inline bool runningInCi()
{
    return qEnvironmentVariable("CI") == QLatin1String("true");
}

// Empty when `relative` (a file or folder of the corpus) is there, otherwise
// the reason to skip or fail.
inline QString corpusMissing(const QString &relative = QString())
{
    const QString path = corpusPath(relative);
    if (QFileInfo::exists(path))
        return QString();
    return QStringLiteral("the shared workbook corpus is missing: %1 does not exist (the tests "
                          "read it from ../shared/corpus beside the source tree)")
        .arg(path);
}

} // namespace sdtest

// Ends the current test function unless the corpus (or the file or folder
// `relative` inside it) is there: QSKIP outside CI, QFAIL when CI=true.
#define SD_REQUIRE_CORPUS(relative)                                                                \
    do {                                                                                           \
        const QString sdMissing_ = sdtest::corpusMissing(relative);                                \
        if (!sdMissing_.isEmpty()) {                                                               \
            if (sdtest::runningInCi())                                                             \
                QFAIL(                                                                             \
                    qPrintable(sdMissing_ + QStringLiteral(" (CI=true: failing, not skipping)"))); \
            QSKIP(qPrintable(sdMissing_));                                                         \
        }                                                                                          \
    } while (false)
