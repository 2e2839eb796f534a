#pragma once

// What the tests of the window share: its widgets by object name, the
// message boxes it opens, and waiting for a batch.

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPushButton>
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

} // namespace windowtest
