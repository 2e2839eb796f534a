#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "failurelist.h"
#include "formgeometry.h"
#include "mergeobject.h"
#include "programpaths.h"
#include "settingsfile.h"
#include "systemtray.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QUrl>

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

// Between the progress and the path in the status line, like the form's rows.
constexpr int kProgressSpacing = 6;

QString askForDirectory(QWidget *parent, const QString &caption, const QString &startDirectory,
                        QFileDialog::Options options)
{
    return QFileDialog::getExistingDirectory(parent, caption, startDirectory, options);
}

void writeSetting(const char *key, const char *value)
{
    // A failed write (read-only file, no folder for the per-user file) keeps
    // the file as it was; the form keeps the user's choice until the program
    // ends. A per-user file chosen at start-up is made at the first write.
    CreateChosenSettingsFile();
    SetSettingsValue(SettingsFilePath, key, value);
}

// A folder as the fields show it: native separators and one trailing
// separator, only when there is none (the root folder stays "/").
QString folderText(const QString &folder)
{
    QString path = QDir::toNativeSeparators(folder);
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
    return path;
}

// The folder a typed text names, absolute and cleaned, "~" standing for the
// home folder as in a shell; empty when it names no existing folder.
QString typedFolder(const QString &text)
{
    QString path = QDir::fromNativeSeparators(text);
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    const QFileInfo info(path);
    return info.isDir() ? QDir::cleanPath(info.absoluteFilePath()) : QString();
}

// The local folder that a drag carries, or an empty text: only a drag of one
// folder counts (files and several items are refused).
QString draggedFolder(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1)
        return QString();
    const QUrl url = mime->urls().first();
    if (!url.isLocalFile())
        return QString();
    const QFileInfo info(url.toLocalFile());
    return info.isDir() ? QDir::cleanPath(info.absoluteFilePath()) : QString();
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_ui(new Ui::MainWindow)
    , m_directoryQuestion(askForDirectory)
{
    m_ui->setupUi(this);
    createProgressLabel();
    // Qt's high-DPI scaling covers whole multiples of 96 dpi; the rest of a
    // larger text resolution (120 dpi, say) grows the form's pixel geometry,
    // so that the texts keep fitting their buttons and rows.
    scaleFormGeometry(this, remainingTextScale(this));

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

    m_tray = new SystemTray(this);
    connect(m_tray, SIGNAL(showWidget()), this, SLOT(ShowSoftWindow()));
    connect(m_tray, SIGNAL(activated(QSystemTrayIcon::ActivationReason)), this,
            SLOT(SystemTrayActivated(QSystemTrayIcon::ActivationReason)));

    createFailureButton();
    applySettings();
    connectFolderFields();
}

// How far a batch is shows beside the workbook's path, left of it: the status
// line keeps its text (the path alone) and its place under the group box.
void MainWindow::createProgressLabel()
{
    QLabel *status = m_ui->lb_ShowDisposing;
    m_progressLabel = new QLabel(m_ui->wgt_AddToTab1);
    m_progressLabel->setObjectName(QStringLiteral("lb_Progress"));
    m_progressLabel->setStyleSheet(status->styleSheet());
    m_progressLabel->hide();
    auto *row = new QHBoxLayout();
    row->setObjectName(QStringLiteral("horizontalLayout_Status"));
    row->setSpacing(kProgressSpacing);
    const int index = m_ui->verticalLayout_3->indexOf(status);
    m_ui->verticalLayout_3->removeWidget(status);
    row->addWidget(m_progressLabel);
    row->addWidget(status, 1);
    m_ui->verticalLayout_3->insertLayout(index, row);
}

// A folder dropped on a field, or typed and confirmed, is taken like a
// picked one; Return in either field starts the batch when none runs.
void MainWindow::connectFolderFields()
{
    setAcceptDrops(true);
    for (QLineEdit *field : { m_ui->lEdt_SourcePath, m_ui->lEdt_SavePath }) {
        field->installEventFilter(this);
        connect(field, &QLineEdit::editingFinished, this,
                [this, field] { adoptTypedFolder(field); });
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (m_ui->pBtn_Transform->isEnabled())
                on_pBtn_Transform_clicked();
        });
    }
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

// The text that follows a progress report is its workbook's path: the two
// show together, in the window and in the tray icon's tool-tip. Any other
// text (phase, summary, failure) stands alone.
void MainWindow::on_ShowDisposingFile(QString filePath)
{
    if (m_progressText.isEmpty()) {
        m_progressLabel->hide();
        m_tray->setToolTip(QString::fromLocal8Bit(kDisplayTitle));
    } else {
        m_progressLabel->setText(m_progressText);
        m_progressLabel->show();
        m_tray->setToolTip(
            QString::fromLocal8Bit(kDisplayTitle) + QLatin1Char('\n')
            + tr("%1：%2", "how far, then the workbook's path").arg(m_progressText, filePath));
        m_progressText.clear();
    }
    m_ui->lb_ShowDisposing->setText(filePath);
}

// The picker opens at the folder the field names, or at the current folder
// when the field names none.
void MainWindow::pickFolder(QLineEdit *field)
{
    const QString current = typedFolder(field->text());
    const QString chosen = m_directoryQuestion(
        this, tr("选择文件夹"), current.isEmpty() ? QStringLiteral(".") : current,
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (chosen.isEmpty())
        return;
    setFolder(field, chosen);
}

// Shows a folder in its field and writes it to the settings file at once.
void MainWindow::setFolder(QLineEdit *field, const QString &folder)
{
    const QString path = folderText(folder);
    field->setText(path);
    const char *key = field == m_ui->lEdt_SourcePath ? kSourcePathKey : kSavePathKey;
    writeSetting(key, path.toLocal8Bit().constData());
}

// A typed text that names an existing folder is taken as if it had been
// picked; any other text stays as typed (the start button refuses it).
void MainWindow::adoptTypedFolder(QLineEdit *field)
{
    const QString folder = typedFolder(field->text());
    if (!folder.isEmpty())
        setFolder(field, folder);
}

void MainWindow::on_pBtn_SourcePath_clicked()
{
    pickFolder(m_ui->lEdt_SourcePath);
}

void MainWindow::on_pBtn_SavePath_clicked()
{
    pickFolder(m_ui->lEdt_SavePath);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (!field || (field != m_ui->lEdt_SourcePath && field != m_ui->lEdt_SavePath))
        return QMainWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        // Dragged text is the field's own business; a dragged file or
        // anything else that is not one folder is refused.
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (!drag->mimeData()->hasUrls())
            return false;
        if (draggedFolder(drag->mimeData()).isEmpty())
            drag->ignore();
        else
            drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop:
        return dropFolderOn(field, static_cast<QDropEvent *>(event));
    default:
        return false;
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!draggedFolder(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent *event)
{
    if (!draggedFolder(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

// A folder dropped anywhere on the window but the output field is the
// source folder.
void MainWindow::dropEvent(QDropEvent *event)
{
    dropFolderOn(m_ui->lEdt_SourcePath, event);
}

bool MainWindow::dropFolderOn(QLineEdit *field, QDropEvent *event)
{
    const QString folder = draggedFolder(event->mimeData());
    if (folder.isEmpty())
        return false;
    setFolder(field, folder);
    event->acceptProposedAction();
    return true;
}

void MainWindow::on_pBtn_Transform_clicked()
{
    // Texts typed and not yet confirmed (the button was pressed straight
    // from a field) count like the ones confirmed with Return or Tab.
    adoptTypedFolder(m_ui->lEdt_SourcePath);
    adoptTypedFolder(m_ui->lEdt_SavePath);
    g_SourcePath = QDir::toNativeSeparators(m_ui->lEdt_SourcePath->text());
    g_SavePath = QDir::toNativeSeparators(m_ui->lEdt_SavePath->text());

    // The options are saved on every press, also when a folder check fails.
    g_OnlyFirstSheet = m_ui->cBox_OnlyFirstSheet->checkState() == Qt::Checked;
    writeSetting(kOnlyFirstSheetKey, g_OnlyFirstSheet ? kYes : kNo);
    g_SaveAsUTF8 = m_ui->cBox_SaveAsUTF8->isChecked();
    writeSetting(kSaveAsUTF8Key, g_SaveAsUTF8 ? kYes : kNo);

    if (!QFileInfo(g_SourcePath).isDir()) {
        QMessageBox::about(this, tr("Message:"), tr("提取文件夹不存在!"));
        return;
    }
    if (!QFileInfo(g_SavePath).isDir()) {
        QMessageBox::about(this, tr("Message:"), tr("保存文件夹不存在!"));
        return;
    }

    m_ui->lb_ShowDisposing->setText(QString());
    m_progressLabel->hide();
    m_progressText.clear();
    m_failureButton->hide();
    m_failureList->hide();
    m_failureList->clear();
    setBatchRunning(true);

    // The previous batch has ended (the button was enabled again); its thread
    // idles in its event loop. Stop it and destroy it with its worker now, so
    // that the old worker's connections are gone before the new start signal.
    endBatch();

    m_thread = new QThread();
    m_thread->start(QThread::InheritPriority);
    m_worker = new MergeObject(QString::fromLatin1(kWorkerName), nullptr);
    if (!m_applicationId.isEmpty())
        m_worker->setApplicationId(m_applicationId);
    if (m_jobs > 0)
        m_worker->setJobs(m_jobs);
    m_worker->moveToThread(m_thread);

    connect(m_worker, SIGNAL(ShowDisposingFile(QString)), this,
            SLOT(on_ShowDisposingFile(QString)));
    connect(this, SIGNAL(pBtn_Transform_HasClicked()), m_worker, SLOT(Transform()));
    connect(m_worker, SIGNAL(Signal_SetButtonEnable()), this, SLOT(on_Signal_SetButtonEnable()));
    connect(m_worker, SIGNAL(ShowFailure(QString, QString)), this,
            SLOT(on_ShowFailure(QString, QString)));
    connect(m_worker, &MergeObject::ShowProgress, this, [this](int current, int total) {
        m_progressText = tr("第%1个(共%2个)").arg(current).arg(total);
    });

    emit pBtn_Transform_HasClicked();
}

void MainWindow::on_Signal_SetButtonEnable()
{
    setBatchRunning(false);
    if (m_failureList->count() > 0) {
        m_failureButton->setText(tr("查看失败原因(%n项)…", nullptr, m_failureList->count()));
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

// While a batch runs the start button and the two pickers are disabled; the
// fields stay editable, and what is typed there reaches the next batch.
void MainWindow::setBatchRunning(bool running)
{
    m_ui->pBtn_Transform->setEnabled(!running);
    m_ui->pBtn_SourcePath->setEnabled(!running);
    m_ui->pBtn_SavePath->setEnabled(!running);
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
