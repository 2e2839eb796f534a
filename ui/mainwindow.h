#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

namespace Ui {
class MainWindow;
}

/// The program's only window: the form of mainwindow.ui, placed on the primary
/// screen, with the tray icon as its child.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(MainWindow)

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    /// Starts the current worker's batch (connected to MergeObject::Transform).
    void pBtn_Transform_HasClicked();

public slots:
    /// Brings the window back in its normal state at its recorded size.
    void ShowSoftWindow();
    /// Shows the window on a click or double click on the tray icon.
    void SystemTrayActivated(QSystemTrayIcon::ActivationReason reason);

private slots:
    void on_ShowDisposingFile(QString filePath);
    void on_pBtn_SourcePath_clicked();
    void on_pBtn_SavePath_clicked();
    void on_pBtn_Transform_clicked();
    void on_Signal_SetButtonEnable();

private:
    Ui::MainWindow *m_ui;
    int m_screenWidth = 0;
    int m_screenHeight = 0;
    int m_normalHeight = 0;
    int m_normalWidth = 0;
};
