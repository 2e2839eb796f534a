#pragma once

#include <QByteArray>

// Makes Qt's local 8-bit encoding (file names through QFile::encodeName and
// decodeName, QString::toLocal8Bit, the CSV files) the encoding of the locale
// the program runs in, as nl_langinfo(CODESET) names it. Qt 5 may take
// UTF-8 whatever the locale says (the default of the ICU it is built with),
// and then a GBK locale's file names would be read as UTF-8. A locale whose
// encoding is plain ASCII (the C locale) keeps UTF-8, which holds it. Call
// once, after the application object has set the locale. Returns the name of
// the encoding in use.
QByteArray UseLocaleEncoding();
