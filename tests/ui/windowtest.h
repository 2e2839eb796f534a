#pragma once

// What the tests of the window share: its widgets by object name, the
// message boxes it opens, waiting for a batch and what its status line
// showed.

#include <QApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace windowtest {

// The child of `window` with the object name `name`; ends the test run when
// there is none (a renamed widget is the test's fault, not a finding).
template<typename T> T *child(const QObject *window, const char *name)
{
    T *widget = window->findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no child %s", name);
    return widget;
}

// A time limit stretched by SHEETDRAIN_TIMEOUT_SCALE (set by the
// ThreadSanitizer pass, under which a batch runs many times slower).
inline int scaledTimeout(int ms)
{
    return ms * std::max(1, qEnvironmentVariableIntValue("SHEETDRAIN_TIMEOUT_SCALE"));
}

// Closes the message boxes that the code under test opens while it lives,
// and keeps what the last one said.
class MessageBoxCloser final : public QObject
{
public:
    MessageBoxCloser()
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                text = box->text();
                box->accept();
            }
        });
        m_timer.start();
    }
    QString title;
    QString text;

private:
    QTimer m_timer;
};

// Waits until `button` is enabled again (the start button at the end of a
// batch); false when the time ran out first.
inline bool waitUntilEnabled(QPushButton *button, int timeoutMs)
{
    QDeadlineTimer deadline(scaledTimeout(timeoutMs));
    while (!button->isEnabled() && !deadline.hasExpired())
        QTest::qWait(10);
    return button->isEnabled();
}

// Records the status label's text after each queued call that reaches the
// window (the worker's reports arrive that way), so every text that the
// label showed is seen, however quickly the next one follows; with it what
// the progress beside it and the tray icon's tool-tip said. The empty label
// of a batch that has only just started is not a report.
class StatusRecorder final : public QObject
{
public:
    StatusRecorder(QWidget *window, QLabel *label)
        : m_window(window)
        , m_label(label)
    {
        window->installEventFilter(this);
    }
    QStringList shown;
    QStringList progress; // beside each text shown; empty when hidden
    QStringList toolTips;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::MetaCall)
            return false;
        watched->event(event);
        const QString text = m_label->text();
        if (!text.isEmpty() && (shown.isEmpty() || shown.last() != text)) {
            shown << text;
            const auto *label = m_window->findChild<QLabel *>(QStringLiteral("lb_Progress"));
            progress << (label && label->isVisible() ? label->text() : QString());
            toolTips << m_window->findChild<QSystemTrayIcon *>()->toolTip();
        }
        return true;
    }

private:
    QWidget *m_window;
    QLabel *m_label;
};

} // namespace windowtest
