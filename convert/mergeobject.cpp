#include "mergeobject.h"

QString g_SourcePath;
QString g_SavePath;
bool g_OnlyFirstSheet = false;
bool g_SaveAsUTF8 = false;

MergeObject::MergeObject(const QString &name, QObject *parent)
    : QObject(parent), m_name(name), m_applicationId(QStringLiteral("Excel.Application"))
{
}

MergeObject::~MergeObject() = default;

QFileInfoList MergeObject::CollectFiles(const QString &path)
{
    QStringList descent;
    return collectFiles(path, descent);
}

QFileInfoList MergeObject::collectFiles(const QString &, QStringList &)
{
    return {};
}

void MergeObject::Transform()
{
    emit Signal_SetButtonEnable();
}
