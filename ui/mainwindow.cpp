#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "failurelist.h"
#include "mergeobject.h"
#include "programpaths.h"
#include "settingsfile.h"
#include "systemtray.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QThread>

#include <vector>

namespace {

// The vertical placement leaves a third of the free height above the window
// and two thirds below it.
constexpr int kHorizontalPlacementDivisor = 2;
constexpr int kVerticalPlacementDivisor = 3;

constexpr const char kDisplayTitle[] = "SheetDrain";
constexpr const char kVersionText[] = "4.1";

constexpr const char kSourcePathKey[] = "SourcePath";
constexpr const char kSavePathKey[] = "SavePath";
constexpr const char kSaveAsUTF8Key[] = "SaveAsUTF8";
constexpr const char kOnlyFirstSheetKey[] = "OnlyFirstSheet";
constexpr const char kYes[] = "y";
constexpr const char kNo[] = "n";

constexpr const char kWorkerName[] = "tem";

QString askForDirectory(QWidget *parent, const QString &caption, const QString &startDirectory,
                        QFileDialog::Options options)
{
    return QFileDialog::getExistingDirectory(parent, caption, startDirectory, options);
}

void writeSetting(const char *key, const char *value)
{
    // A failed write (no settings file, read-only) keeps the file as it was;
    // the form keeps the user's choice until the program ends.
    SetSettingsValue(SettingsFilePath, key, value);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_ui(new Ui::MainWindow)
    , m_directoryQuestion(askForDirectory)
{
    m_ui->setupUi(this);

    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->geometry().size() : QSize();
    m_screenWidth = screenSize.width();
    m_screenHeight = screenSize.height();
    m_normalHeight = height();
    m_normalWidth = width();
    move((m_screenWidth - width()) / kHorizontalPlacementDivisor,
         (m_screenHeight - height()) / kVerticalPlacementDivisor);

    setWindowTitle(QString::fromLocal8Bit(kDisplayTitle) + QLatin1String(kVersionText));
    setWindowIcon(QIcon(QStringLiteral(":/images/ktz.ico")));

    SystemTray *tray = new SystemTray(this);
    connect(tray, SIGNAL(showWidget()), this, SLOT(ShowSoftWindow()));
    connect(tray, SIGNAL(activated(QSystemTrayIcon::ActivationReason)), this,
            SLOT(SystemTrayActivated(QSystemTrayIcon::ActivationReason)));

    createFailureButton();
    applySettings();
}

// The list of what failed is reached through a button under the status line
// that shows only after a batch that had failures; until then the form is as
// it always is.
void MainWindow::createFailureButton()
{
    m_failureList = new FailureList(this);
    m_failureButton = new QPushButton(m_ui->wgt_AddToTab1);
    m_failureButton->setObjectName(QStringLiteral("pBtn_ShowFailures"));
    m_failureButton->hide();
    m_ui->verticalLayout_3->addWidget(m_failureButton, 0, Qt::AlignLeft);
    connect(m_failureButton, &QPushButton::clicked, this, &MainWindow::showFailureList);
}

MainWindow::~MainWindow()
{
    endBatch();
    delete m_ui;
}

void MainWindow::setDirectoryQuestion(DirectoryQuestion question)
{
    m_directoryQuestion = question ? std::move(question) : DirectoryQuestion(askForDirectory);
}

// The settings text is read once; each key's value is taken on its first
// byte, case-sensitively: "yes" counts as y, "Y" does not.
void MainWindow::applySettings()
{
    std::vector<char> text(SettingsTextSize, '\0');
    // A missing or unreadable file leaves the text empty: every key then reads
    // as empty and the form keeps its defaults.
    LoadSettingsText(text.data(), text.size(), SettingsFilePath);

    char value[PathBufferSize] = {};
    GetSettingsValue(value, sizeof value, text.data(), kSourcePathKey);
    if (value[0] != '\0')
        m_ui->lEdt_SourcePath->setText(QString::fromLocal8Bit(value));

    value[0] = '\0';
    GetSettingsValue(value, sizeof value, text.data(), kSavePathKey);
    if (value[0] != '\0')
        m_ui->lEdt_SavePath->setText(QString::fromLocal8Bit(value));

    value[0] = '\0';
    GetSettingsValue(value, sizeof value, text.data(), kSaveAsUTF8Key);
    if (value[0] == kYes[0])
        m_ui->cBox_SaveAsUTF8->setChecked(true);

    value[0] = '\0';
    GetSettingsValue(value, sizeof value, text.data(), kOnlyFirstSheetKey);
    if (value[0] == kNo[0])
        m_ui->cBox_OnlyFirstSheet->setChecked(false);
}

void MainWindow::ShowSoftWindow()
{
    showNormal();
    resize(m_normalWidth, m_normalHeight);
    raise();
    activateWindow();
}

void MainWindow::SystemTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        ShowSoftWindow();
}

void MainWindow::on_ShowDisposingFile(QString filePath)
{
    m_ui->lb_ShowDisposing->setText(filePath);
}

// The picked folder gets one trailing separator, and only when it has none:
// the root folder stays "/".
void MainWindow::pickFolder(QLineEdit *field, const char *key)
{
    const QString chosen
        = m_directoryQuestion(this, QStringLiteral("选择文件夹"), QStringLiteral("."),
                              QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (chosen.isEmpty())
        return;
    QString path = QDir::toNativeSeparators(chosen);
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
    field->setText(path);
    writeSetting(key, path.toLocal8Bit().constData());
}

void MainWindow::on_pBtn_SourcePath_clicked()
{
    pickFolder(m_ui->lEdt_SourcePath, kSourcePathKey);
}

void MainWindow::on_pBtn_SavePath_clicked()
{
    pickFolder(m_ui->lEdt_SavePath, kSavePathKey);
}

void MainWindow::on_pBtn_Transform_clicked()
{
    g_SourcePath = QDir::toNativeSeparators(m_ui->lEdt_SourcePath->text());
    g_SavePath = QDir::toNativeSeparators(m_ui->lEdt_SavePath->text());

    // The options are saved on every press, also when a folder check fails.
    g_OnlyFirstSheet = m_ui->cBox_OnlyFirstSheet->checkState() == Qt::Checked;
    writeSetting(kOnlyFirstSheetKey, g_OnlyFirstSheet ? kYes : kNo);
    g_SaveAsUTF8 = m_ui->cBox_SaveAsUTF8->isChecked();
    writeSetting(kSaveAsUTF8Key, g_SaveAsUTF8 ? kYes : kNo);

    if (!QFileInfo(g_SourcePath).isDir()) {
        QMessageBox::about(this, QStringLiteral("Message:"), QStringLiteral("提取文件夹不存在!"));
        return;
    }
    if (!QFileInfo(g_SavePath).isDir()) {
        QMessageBox::about(this, QStringLiteral("Message:"), QStringLiteral("保存文件夹不存在!"));
        return;
    }

    m_ui->lb_ShowDisposing->setText(QString());
    m_failureButton->hide();
    m_failureList->hide();
    m_failureList->clear();
    m_ui->pBtn_Transform->setEnabled(false);

    // The previous batch has ended (the button was enabled again); its thread
    // idles in its event loop. Stop it and destroy it with its worker now, so
    // that the old worker's connections are gone before the new start signal.
    endBatch();

    m_thread = new QThread();
    m_thread->start(QThread::InheritPriority);
    m_worker = new MergeObject(QString::fromLatin1(kWorkerName), nullptr);
    if (!m_applicationId.isEmpty())
        m_worker->setApplicationId(m_applicationId);
    m_worker->moveToThread(m_thread);

    connect(m_worker, SIGNAL(ShowDisposingFile(QString)), this,
            SLOT(on_ShowDisposingFile(QString)));
    connect(this, SIGNAL(pBtn_Transform_HasClicked()), m_worker, SLOT(Transform()));
    connect(m_worker, SIGNAL(Signal_SetButtonEnable()), this, SLOT(on_Signal_SetButtonEnable()));
    connect(m_worker, SIGNAL(ShowFailure(QString, QString)), this,
            SLOT(on_ShowFailure(QString, QString)));

    emit pBtn_Transform_HasClicked();
}

void MainWindow::on_Signal_SetButtonEnable()
{
    m_ui->pBtn_Transform->setEnabled(true);
    if (m_failureList->count() > 0) {
        m_failureButton->setText(QStringLiteral("查看失败原因(%1项)…").arg(m_failureList->count()));
        m_failureButton->show();
    }
}

void MainWindow::on_ShowFailure(QString path, QString reason)
{
    m_failureList->addFailure(path, reason);
}

void MainWindow::showFailureList()
{
    m_failureList->show();
    m_failureList->raise();
    m_failureList->activateWindow();
}

// Asks a running batch to stop after the worksheet it is saving (the worker
// checks between worksheets and between workbooks), lets the thread's event
// loop end, waits for it without a time limit, then destroys worker and
// thread. Nothing is left running that could outlive the window or the batch
// parameters, and no output file is cut off mid-write.
void MainWindow::endBatch()
{
    if (m_thread) {
        m_thread->requestInterruption();
        m_thread->quit();
        m_thread->wait();
    }
    delete m_worker;
    m_worker = nullptr;
    delete m_thread;
    m_thread = nullptr;
}
