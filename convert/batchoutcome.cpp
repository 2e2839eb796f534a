#include "batchoutcome.h"

#include <QStringList>

QString SummaryText(const BatchOutcome &outcome)
{
    QString text;
    if (outcome.convertedWorkbooks == 0 && outcome.failedWorkbooks == 0)
        text = QStringLiteral("提取文件夹中没有找到excel文件(.xls、.xlsx、.xlsm)。");
    else
        text = QStringLiteral("成功将%1个excel文件转换为%2个csv文件。")
                   .arg(outcome.convertedWorkbooks)
                   .arg(outcome.csvFiles);
    QStringList failures;
    if (outcome.failedWorkbooks > 0)
        failures << QStringLiteral("%1个excel文件转换失败").arg(outcome.failedWorkbooks);
    if (outcome.unreadableFolders > 0)
        failures << QStringLiteral("%1个文件夹无法读取").arg(outcome.unreadableFolders);
    if (outcome.failedReencodes > 0)
        failures << QStringLiteral("%1个csv文件未能转换为UTF-8编码").arg(outcome.failedReencodes);
    if (!failures.isEmpty())
        text += failures.join(QStringLiteral(",")) + QStringLiteral("。");
    return text;
}
