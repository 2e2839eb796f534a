#pragma once

// Runs sheetdrain-cli for the command-line tests and copies sample workbooks.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <unistd.h>

namespace clitest {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
    QByteArray rawOut, rawErr;
};

// Runs the program in the locale `locale`; its messages are in `language`
// (LANGUAGE), Chinese unless a test asks for another.
inline Run runCli(const QStringList &args, const QString &locale = QStringLiteral("C.UTF-8"),
                  const QString &language = QStringLiteral("zh_CN"))
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), locale);
    env.insert(QStringLiteral("LANGUAGE"), language);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(SHEETDRAIN_CLI), args);
    Run run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.rawOut = process.readAllStandardOutput();
    run.rawErr = process.readAllStandardError();
    run.out = QString::fromUtf8(run.rawOut);
    run.err = QString::fromUtf8(run.rawErr);
    return run;
}

// Copies a workbook of the repository's own samples to a name given as bytes.
inline bool copySample(const char *sample, const QString &folder, const QByteArray &name)
{
    QFile from(QStringLiteral(SHEETDRAIN_SAMPLES "/") + QLatin1String(sample));
    if (!from.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = from.readAll();
    const QByteArray path = QFile::encodeName(folder) + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool ok = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return fd >= 0 && ::close(fd) == 0 && ok;
}

// Whether the system can run a program in the locale `name`.
inline bool localeAvailable(const QString &name, const QByteArray &charmap)
{
    QProcess locale;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), name);
    locale.setProcessEnvironment(env);
    locale.start(QStringLiteral("locale"), { QStringLiteral("charmap") });
    return locale.waitForFinished(10000) && locale.readAllStandardOutput().trimmed() == charmap
        && locale.readAllStandardError().isEmpty();
}

} // namespace clitest
