#include "utf8pass.h"

#include <QFile>
#include <QSaveFile>
#include <QTextCodec>

bool IsValidUtf8(const char *data, qsizetype size)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    const auto *end = p + size;
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        unsigned char low = 0x80, high = 0xBF; // range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0)
                low = 0xA0; // overlong
            else if (c == 0xED)
                high = 0x9F; // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0)
                low = 0x90; // overlong
            else if (c == 0xF4)
                high = 0x8F; // above U+10FFFF
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        if (p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
        }
        p += extra + 1;
    }
    return true;
}

bool IsValidGbk(const char *data, qsizetype size)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    const auto *end = p + size;
    while (p < end) {
        const unsigned char c = *p;
        if (c <= 0x80) { // ASCII, and 0x80 is the euro sign in code page 936
            ++p;
            continue;
        }
        if (c == 0xFF || end - p < 2)
            return false;
        const unsigned char trail = p[1];
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF)
            return false;
        p += 2;
    }
    return true;
}

Utf8PassResult ReencodeCsvAsUtf8(const QString &path, QString *problem)
{
    auto fail = [problem](Utf8PassResult result, const QString &why) {
        if (problem)
            *problem = why;
        return result;
    };
    QByteArray bytes;
    {
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly))
            return fail(Utf8PassResult::Unreadable, in.errorString());
        bytes = in.readAll();
        if (in.error() != QFileDevice::NoError)
            return fail(Utf8PassResult::Unreadable, in.errorString());
    }
    if (IsValidUtf8(bytes.constData(), bytes.size()))
        return Utf8PassResult::Unchanged;

    // Qt's GBK decoder drops a lone lead byte at the end and maps 0xFF to a
    // private-use character without counting either as invalid, so the byte
    // structure is checked first.
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    const QString notGbk = QStringLiteral("neither UTF-8 nor GBK text; left as it was");
    if (!gbk || !IsValidGbk(bytes.constData(), bytes.size()))
        return fail(Utf8PassResult::NotGbk, notGbk);
    QTextCodec::ConverterState state;
    const QString text = gbk->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars != 0 || state.remainingChars != 0
        || text.contains(QChar::ReplacementCharacter))
        return fail(Utf8PassResult::NotGbk, notGbk);

    // GBK holds ASCII as itself, so CR and LF come through untouched.
    const QByteArray utf8 = text.toUtf8();
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(Utf8PassResult::WriteFailed, out.errorString());
    if (out.write(utf8) != utf8.size()) {
        const QString why = out.errorString();
        out.cancelWriting();
        out.commit();
        return fail(Utf8PassResult::WriteFailed, why);
    }
    if (!out.commit())
        return fail(Utf8PassResult::WriteFailed, out.errorString());
    return Utf8PassResult::Rewritten;
}
