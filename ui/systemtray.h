#pragma once

#include <QSystemTrayIcon>

class QAction;
class QMenu;

/// The program's icon in the notification area: a click or "软件设置" asks for
/// the main window, "退出程序" ends the event loop.
class SystemTray final : public QSystemTrayIcon
{
    Q_OBJECT
    Q_DISABLE_COPY(SystemTray)

public:
    explicit SystemTray(QObject *parent);
    ~SystemTray() override;

signals:
    /// The user chose "软件设置" in the context menu.
    void showWidget();

private slots:
    void UiQuit();
    void ShowUi();

private:
    QMenu *trayMenu;
    QAction *showAction;
    QAction *quitAction;
};
