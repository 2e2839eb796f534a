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

// Failures come for the workbook at work, or for what the walk met, each
// after the record it belongs to; only the latest records are looked at.
int RunReport::recordFor(const QString &path)
{
    const QByteArray json = jsonString(path).toUtf8();
    if (m_current >= 0 && m_records[m_current].path == json)
        return m_current;
    if (!m_records.isEmpty() && m_records.last().path == json)
        return m_records.size() - 1;
    m_records.append({ json, nullptr, {}, {} });
    return m_records.size() - 1;
}

void RunReport::workbookStarted(const QString &path)
{
    m_current = recordFor(path);
    m_records[m_current].status = kStopped;
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
        record.status = kFailed;
        return;
    }
    Record &record = m_records[recordFor(path)];
    record.reasons << reason;
    if (!record.status)
        record.status = kFailed;
}

void RunReport::workbookDone(const QString &path, bool converted, const QStringList &csvFiles)
{
    const int index = recordFor(path);
    Record &record = m_records[index];
    record.status = converted ? kConverted : kFailed;
    QStringList csv;
    for (const QString &file : csvFiles) {
        csv << jsonString(file);
        if (m_csvFailuresPossible)
            m_byCsvFile.insert(file, index);
    }
    record.csvFiles = csv.join(QLatin1Char(',')).toUtf8();
    if (index == m_current)
        m_current = -1;
}

void RunReport::runCutShort(const QString &reason)
{
    if (m_current < 0)
        return;
    Record &record = m_records[m_current];
    if (!reason.isEmpty()) {
        record.status = kFailed;
        record.reasons << reason;
    }
    m_current = -1;
}

QByteArray RunReport::jsonLines() const
{
    QByteArray out;
    for (const Record &r : m_records) {
        out += "{\"path\":" + r.path + ",\"status\":\"" + QByteArray(r.status ? r.status : "")
            + "\",\"reason\":" + jsonString(r.reasons.join(QStringLiteral("; "))).toUtf8()
            + ",\"csv\":[" + r.csvFiles + "]}\n";
    }
    return out;
}
