#include "failurelist.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kPathColumn = 0;
constexpr int kReasonColumn = 1;
constexpr int kInitialWidth = 900;
constexpr int kInitialHeight = 400;

} // namespace

FailureList::FailureList(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("dlg_Failures"));
    setWindowTitle(tr("转换失败的文件"));
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("tree_Failures"));
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({ tr("文件"), tr("原因") });
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->header()->setSectionResizeMode(kPathColumn, QHeaderView::Interactive);
    m_list->header()->setStretchLastSection(true);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *copy = buttons->addButton(tr("复制全部"), QDialogButtonBox::ActionRole);
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(text()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(kInitialWidth, kInitialHeight);
}

void FailureList::addFailure(const QString &path, const QString &reason)
{
    auto *item = new QTreeWidgetItem(m_list, { path, reason });
    item->setToolTip(kPathColumn, path);
    item->setToolTip(kReasonColumn, reason);
    if (m_list->topLevelItemCount() == 1)
        m_list->setColumnWidth(kPathColumn, kInitialWidth / 2);
}

void FailureList::clear()
{
    m_list->clear();
}

int FailureList::count() const
{
    return m_list->topLevelItemCount();
}

QString FailureList::text() const
{
    QString all;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_list->topLevelItem(i);
        all += item->text(kPathColumn) + QLatin1Char('\t') + item->text(kReasonColumn)
            + QLatin1Char('\n');
    }
    return all;
}
