// Prints the records of a .xls file: compound-file entries, then offset, id,
// name, length and leading bytes of every BIFF record of the workbook stream.
#include "xls/xlsdump.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: xlsdump FILE [HEXBYTES]\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(file.errorString()));
        return 1;
    }
    const QByteArray bytes = file.readAll();
    const size_t hexBytes = argc > 2 ? size_t(std::strtoul(argv[2], nullptr, 10)) : 16;
    std::string out;
    const sd::Error e = sd::dumpXls(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                    size_t(bytes.size()), out, hexBytes);
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.description().c_str());
        return 1;
    }
    return 0;
}
