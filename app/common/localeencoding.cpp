#include "localeencoding.h"

#include <QTextCodec>

#include <langinfo.h>

QByteArray UseLocaleEncoding()
{
    const QByteArray codeset(nl_langinfo(CODESET));
    const bool ascii = codeset.isEmpty() || codeset == "ANSI_X3.4-1968" || codeset == "US-ASCII"
        || codeset == "ASCII";
    if (!ascii) {
        if (QTextCodec *codec = QTextCodec::codecForName(codeset))
            QTextCodec::setCodecForLocale(codec);
    }
    return QTextCodec::codecForLocale()->name();
}
