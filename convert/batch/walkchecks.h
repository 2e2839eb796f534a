#pragma once

#include <QList>
#include <QString>

// What the folder walk cannot take in, so that it is reported rather than
// passed over without a word.

struct WalkProblem
{
    enum Kind {
        UnreadableFolder, // cannot be listed: nothing below it is seen
        UndecodableFolder, // its name is not valid in the locale's encoding
        UndecodableWorkbook, // a workbook whose name is not valid there
    };
    Kind kind;
    QString path; // as the user can read it; bytes that cannot be shown as \xHH
    QString reason;
};

// Empty when the folder can be listed and its entries reached; otherwise why not.
QString UnreadableFolderReason(const QString &folder);

// The entries of `folder` that the walk cannot name because their names are
// not valid in the locale's encoding (a GBK name from a Chinese archive on a
// UTF-8 system): sub-folders that the walk would enter and workbook files
// that it would convert. Hidden folders and "~$" names are passed over, as
// the walk passes them over.
QList<WalkProblem> UndecodableEntries(const QString &folder);

// A file name's bytes as text: the name itself when the locale's encoding
// holds it, otherwise with each byte outside ASCII written as \xHH.
QString ShowableName(const QByteArray &name);
