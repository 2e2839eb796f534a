#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "systemtray.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>

namespace {

// The vertical placement leaves a third of the free height above the window
// and two thirds below it.
constexpr int kHorizontalPlacementDivisor = 2;
constexpr int kVerticalPlacementDivisor = 3;

constexpr const char kDisplayTitle[] = "SheetDrain";
constexpr const char kVersionText[] = "4.1";

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_ui(new Ui::MainWindow)
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
}

MainWindow::~MainWindow()
{
    delete m_ui;
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

void MainWindow::on_pBtn_SourcePath_clicked() { }

void MainWindow::on_pBtn_SavePath_clicked() { }

void MainWindow::on_pBtn_Transform_clicked() { }

void MainWindow::on_Signal_SetButtonEnable()
{
    m_ui->pBtn_Transform->setEnabled(true);
}
