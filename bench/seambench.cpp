// Prints the cost per workbook of the conversion job and the automation seam
// alone: a batch over N empty workbook files driven through a do-nothing
// application (two worksheets per workbook, SaveAs writes nothing), so that
// neither the engine nor the file system's writes are in the figure.
//
//   seambench [N]      (default 500)

#include "automationnames.h"
#include "axobject.h"
#include "mergeobject.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

namespace {

class NullServer final : public AxServer
{
public:
    enum Kind { App, Books, Book, Sheets, Worksheet, Range, Count, Cell, Active };
    explicit NullServer(Kind kind)
        : m_kind(kind)
    {
    }

    QVariant call(const char *member, const QVariantList &) override
    {
        return m_kind == Cell ? QVariant(QStringLiteral("x")) : QVariant(std::strlen(member) > 0);
    }
    std::unique_ptr<AxServer> subObject(const char *member, const QVariantList &) override
    {
        switch (m_kind) {
        case App:
            return std::make_unique<NullServer>(
                std::strcmp(member, AxNames::kWorkbooks) == 0 ? Books : Active);
        case Books:
            return std::make_unique<NullServer>(Book);
        case Book:
            return std::make_unique<NullServer>(
                std::strcmp(member, AxNames::kSheets) == 0 ? Sheets : Worksheet);
        case Worksheet:
            return std::make_unique<NullServer>(
                std::strcmp(member, AxNames::kUsedRange) == 0 ? Range : Cell);
        case Range:
            return std::make_unique<NullServer>(Count);
        default:
            return nullptr;
        }
    }
    QVariant property(const char *name) override
    {
        if (m_kind == Sheets || m_kind == Count)
            return 2;
        if (std::strcmp(name, AxNames::kName) == 0)
            return QStringLiteral("Sheet");
        return 1;
    }
    bool setProperty(const char *, const QVariant &) override { return true; }

private:
    Kind m_kind;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::atoi(argv[1]) : 500;
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("in"));
    QDir().mkpath(dir.filePath("out"));
    for (int i = 0; i < n; ++i) {
        const QString sub = dir.filePath(QStringLiteral("in/g%1").arg(i / 50));
        QDir().mkpath(sub);
        QFile file(QStringLiteral("%1/book_%2.xlsx").arg(sub).arg(i));
        file.open(QIODevice::WriteOnly);
    }
    AxRegistry::registerApplication(QStringLiteral("Bench.Null"),
                                    [] { return std::make_unique<NullServer>(NullServer::App); });
    g_SourcePath = dir.filePath("in");
    g_SavePath = dir.filePath("out");
    g_OnlyFirstSheet = false;
    g_SaveAsUTF8 = false;

    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        MergeObject worker(QStringLiteral("tem"), nullptr);
        worker.setApplicationId(QStringLiteral("Bench.Null"));
        QElapsedTimer timer;
        timer.start();
        worker.Transform();
        best = std::min(best, timer.nsecsElapsed() / 1e3 / n);
    }
    std::printf("%d workbooks, 2 sheets each: job + seam %.1f us per workbook (best of 5)\n", n,
                best);
    return 0;
}
