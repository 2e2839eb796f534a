#pragma once

#include <QFileDialog>
#include <QMainWindow>
#include <QSystemTrayIcon>

#include <functional>

class FailureList;
class MergeObject;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QThread;
class SystemTray;

namespace Ui {
class MainWindow;
}

/// The program's only window and the controller of a conversion batch: the
/// form of mainwindow.ui filled from the settings file, the two folder
/// pickers, and the start button that runs one MergeObject on a thread of its
/// own. The tray icon is its child.
///
/// A folder reaches a path field by the picker, by a drop (on the field, or
/// anywhere else on the window for the source folder) or typed by hand; all
/// three are shown and remembered alike. Return in a field starts the batch.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(MainWindow)

public:
    /// Asks the user for a folder; returns it, or an empty text when cancelled.
    using DirectoryQuestion
        = std::function<QString(QWidget *parent, const QString &caption,
                                const QString &startDirectory, QFileDialog::Options options)>;

    explicit MainWindow(QWidget *parent = nullptr);
    /// Stops a batch that is still running (after the worksheet it is saving)
    /// and waits for its thread before the window goes.
    ~MainWindow() override;

    /// Replaces the folder dialog of the pickers (tests answer it themselves).
    void setDirectoryQuestion(DirectoryQuestion question);
    /// The programmatic identifier that new workers select; empty keeps the
    /// worker's own default. Tests point it at a fake application.
    void setApplicationId(const QString &id) { m_applicationId = id; }
    /// How many workbooks new batches convert at once; 0 keeps the worker's
    /// default, one per processor core.
    void setJobs(int jobs) { m_jobs = jobs; }

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
    /// Records what failed in the batch, for the list behind the button
    /// that appears when a batch with failures has ended.
    void on_ShowFailure(QString path, QString reason);
    void showFailureList();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void createFailureButton();
    void createProgressLabel();
    void connectFolderFields();
    void applySettings();
    void pickFolder(QLineEdit *field);
    void setFolder(QLineEdit *field, const QString &folder);
    void adoptTypedFolder(QLineEdit *field);
    bool dropFolderOn(QLineEdit *field, QDropEvent *event);
    void setBatchRunning(bool running);
    void endBatch();

    Ui::MainWindow *m_ui;
    int m_screenWidth = 0;
    int m_screenHeight = 0;
    int m_normalHeight = 0;
    int m_normalWidth = 0;
    QThread *m_thread = nullptr;
    MergeObject *m_worker = nullptr;
    QPushButton *m_failureButton = nullptr; // below the status line; hidden without failures
    FailureList *m_failureList = nullptr;
    SystemTray *m_tray = nullptr;
    QLabel *m_progressLabel = nullptr; // "workbook k of n" left of the path, while a batch runs
    QString m_progressText; // reported for the path that comes next

    DirectoryQuestion m_directoryQuestion;
    QString m_applicationId;
    int m_jobs = 0;
};
