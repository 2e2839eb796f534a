#pragma once

#include <QObject>

class QSocketNotifier;

/// Turns SIGTERM, SIGINT and SIGHUP into a queued Qt signal.
///
/// The handler only writes the signal number into a pipe; a socket notifier
/// on the pipe's read end emits quitRequested() from the event loop, where it
/// is safe to end the program the ordinary way. One bridge may exist at a
/// time; its destructor puts the previous handlers back.
class QuitSignalBridge final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QuitSignalBridge)

public:
    explicit QuitSignalBridge(QObject *parent = nullptr);
    ~QuitSignalBridge() override;

    /// Whether the handlers are in place (false if the pipe or a handler
    /// could not be set up, or another bridge is active).
    bool isActive() const { return m_active; }

signals:
    void quitRequested(int signalNumber);

private slots:
    void readPipe();

private:
    QSocketNotifier *m_notifier = nullptr;
    bool m_active = false;
};
