#include "batchoutcome.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

// The counts are phrases of their own ("3个excel文件"), so that a language
// with plural forms can inflect each; in Chinese the whole line reads as
// it always has.
QString phrase(const char *text, int n)
{
    return QCoreApplication::translate("BatchOutcome", text, nullptr, n);
}

} // namespace

QString SummaryText(const BatchOutcome &outcome)
{
    QString text;
    if (outcome.convertedWorkbooks == 0 && outcome.failedWorkbooks == 0)
        text = QCoreApplication::translate("BatchOutcome",
                                           "提取文件夹中没有找到excel文件(.xls、.xlsx、.xlsm)。");
    else
        text = QCoreApplication::translate("BatchOutcome", "成功将%1转换为%2。")
                   .arg(phrase(QT_TRANSLATE_N_NOOP("BatchOutcome", "%n个excel文件"),
                               outcome.convertedWorkbooks),
                        phrase(QT_TRANSLATE_N_NOOP("BatchOutcome", "%n个csv文件"),
                               outcome.csvFiles));
    QStringList failures;
    if (outcome.failedWorkbooks > 0)
        failures << phrase(QT_TRANSLATE_N_NOOP("BatchOutcome", "%n个excel文件转换失败"),
                           outcome.failedWorkbooks);
    if (outcome.unreadableFolders > 0)
        failures << phrase(QT_TRANSLATE_N_NOOP("BatchOutcome", "%n个文件夹无法读取"),
                           outcome.unreadableFolders);
    if (outcome.failedReencodes > 0)
        failures << phrase(QT_TRANSLATE_N_NOOP("BatchOutcome", "%n个csv文件未能转换为UTF-8编码"),
                           outcome.failedReencodes);
    if (!failures.isEmpty())
        text += QCoreApplication::translate("BatchOutcome", "%1。")
                    .arg(failures.join(QCoreApplication::translate("BatchOutcome", ",")));
    return text;
}
