#include "runreport.h"

namespace {

const char kConverted[] = "converted";
const char kFailed[] = "failed";
const char kStopped[] = "stopped";

} // namespace

QString jsonString(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        const ushort u = c.unicode();
        switch (u) {
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (u < 0x20)
                out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

int RunReport::recordFor(const QString &path)
{
    const auto found = m_byPath.constFind(path);
    if (found != m_byPath.constEnd())
        return found.value();
    m_records.append({ path, QString(), {}, {} });
    m_byPath.insert(path, m_records.size() - 1);
    return m_records.size() - 1;
}

void RunReport::workbookStarted(const QString &path)
{
    m_current = recordFor(path);
    m_records[m_current].status = QLatin1String(kStopped);
}

// A failure names the workbook itself, a CSV file one of them wrote (the
// UTF-8 pass), or something the walk met (a folder, an undecodable name),
// which gets a record of its own.
void RunReport::failure(const QString &path, const QString &reason)
{
    const auto csv = m_byCsvFile.constFind(path);
    if (csv != m_byCsvFile.constEnd()) {
        Record &record = m_records[csv.value()];
        record.reasons << path + QStringLiteral(": ") + reason;
        record.status = QLatin1String(kFailed);
        return;
    }
    Record &record = m_records[recordFor(path)];
    record.reasons << reason;
    if (record.status.isEmpty())
        record.status = QLatin1String(kFailed);
}

void RunReport::workbookDone(const QString &path, bool converted, const QStringList &csvFiles)
{
    const int index = recordFor(path);
    Record &record = m_records[index];
    record.status = QLatin1String(converted ? kConverted : kFailed);
    record.csvFiles = csvFiles;
    for (const QString &csv : csvFiles)
        m_byCsvFile.insert(csv, index);
    if (index == m_current)
        m_current = -1;
}

void RunReport::runCutShort(const QString &reason)
{
    if (m_current < 0)
        return;
    Record &record = m_records[m_current];
    if (!reason.isEmpty()) {
        record.status = QLatin1String(kFailed);
        record.reasons << reason;
    }
    m_current = -1;
}

QByteArray RunReport::jsonLines() const
{
    QString out;
    for (const Record &r : m_records) {
        QStringList csv;
        for (const QString &file : r.csvFiles)
            csv << jsonString(file);
        out += QStringLiteral("{\"path\":%1,\"status\":%2,\"reason\":%3,\"csv\":[%4]}\n")
                   .arg(jsonString(r.path), jsonString(r.status),
                        jsonString(r.reasons.join(QStringLiteral("; "))),
                        csv.join(QLatin1Char(',')));
    }
    return out.toUtf8();
}
