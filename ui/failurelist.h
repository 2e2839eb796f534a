#pragma once

#include <QDialog>

class QTreeWidget;

/// The list of what failed in the last batch: one row per workbook, folder
/// or CSV file, with the reason, as the worker reported them. Rows can be
/// copied as text (file, tab, reason per line) for a report.
class FailureList final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY(FailureList)

public:
    explicit FailureList(QWidget *parent = nullptr);

    void addFailure(const QString &path, const QString &reason);
    void clear();
    int count() const;
    /// The whole list as text, one "file<TAB>reason" line per row.
    QString text() const;

private:
    QTreeWidget *m_list = nullptr;
};
