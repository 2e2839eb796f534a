// Times the window's batch the way a user runs it: the form filled, the
// start button pressed, and the clock stopped when the button comes back
// (the worker's completion signal, after the last file is on disk). Prints
// the seconds, then the status line's last text, for run_window.sh to
// compare with sheetdrain-cli's summary.
//
//   windowbench [--all-sheets] [--utf8] SOURCE OUTPUT
//
// Run it on the offscreen platform (QT_QPA_PLATFORM=offscreen); no settings
// file is read or written.

#include "builtinapplication.h"
#include "localeencoding.h"
#include "mainwindow.h"
#include "programlanguage.h"
#include "programpaths.h"
#include "programresources.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

// Stops the clock when the start button is enabled again.
class ButtonWatch final : public QObject
{
public:
    ButtonWatch(QPushButton *button, QElapsedTimer *clock)
        : m_button(button)
        , m_clock(clock)
    {
        button->installEventFilter(this);
    }
    qint64 elapsedNs = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_button && event->type() == QEvent::EnabledChange && m_button->isEnabled()
            && elapsedNs < 0) {
            elapsedNs = m_clock->nsecsElapsed();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    QPushButton *m_button;
    QElapsedTimer *m_clock;
};

template<typename T> T *child(QWidget *window, const char *name)
{
    T *widget = window->findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no child %s", name);
    return widget;
}

} // namespace

int main(int argc, char **argv)
{
    initProgramResources();
    registerBuiltinApplication();
    QApplication app(argc, argv);
    UseLocaleEncoding();
    installProgramTranslations(&app);

    QStringList paths;
    bool allSheets = false, utf8 = false;
    for (const QString &arg : QCoreApplication::arguments().mid(1)) {
        if (arg == QLatin1String("--all-sheets"))
            allSheets = true;
        else if (arg == QLatin1String("--utf8"))
            utf8 = true;
        else
            paths << arg;
    }
    if (paths.size() != 2) {
        std::fputs("usage: windowbench [--all-sheets] [--utf8] SOURCE OUTPUT\n", stderr);
        return 2;
    }
    // A program folder without a settings file: nothing is remembered.
    QTemporaryDir programDir;
    SetProgramPaths(
        QFile::encodeName(programDir.filePath(QStringLiteral("SheetDrain"))).constData());

    MainWindow window;
    window.show();
    child<QLineEdit>(&window, "lEdt_SourcePath")->setText(paths[0]);
    child<QLineEdit>(&window, "lEdt_SavePath")->setText(paths[1]);
    child<QCheckBox>(&window, "cBox_OnlyFirstSheet")->setChecked(!allSheets);
    child<QCheckBox>(&window, "cBox_SaveAsUTF8")->setChecked(utf8);
    auto *start = child<QPushButton>(&window, "pBtn_Transform");

    QElapsedTimer clock;
    ButtonWatch watch(start, &clock);
    QTimer::singleShot(0, &window, [&] {
        clock.start();
        start->click();
    });
    app.exec();
    if (watch.elapsedNs < 0)
        return 1;
    std::printf("%.3f\n%s\n", double(watch.elapsedNs) / 1e9,
                child<QLabel>(&window, "lb_ShowDisposing")->text().toLocal8Bit().constData());
    return 0;
}
