#include "systemtray.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QMenu>

SystemTray::SystemTray(QObject *parent)
    : QSystemTrayIcon(parent)
    , trayMenu(new QMenu())
    , showAction(new QAction(tr("软件设置"), this))
    , quitAction(new QAction(tr("退出程序"), this))
{
    trayMenu->addAction(showAction);
    trayMenu->addAction(quitAction);
    setContextMenu(trayMenu);
    setIcon(QIcon(QStringLiteral(":/images/ktz.ico")));
    setToolTip(QStringLiteral("SheetDrain"));
    // On a desktop without a tray host the icon is simply not shown.
    show();
    connect(showAction, SIGNAL(triggered()), this, SLOT(ShowUi()));
    connect(quitAction, SIGNAL(triggered()), this, SLOT(UiQuit()));
}

SystemTray::~SystemTray()
{
    // The menu has no parent widget (a tray menu is a top-level popup), so
    // it goes with the tray rather than lingering until the process ends.
    delete trayMenu;
}

void SystemTray::UiQuit()
{
    QCoreApplication::quit();
}

void SystemTray::ShowUi()
{
    emit showWidget();
}
