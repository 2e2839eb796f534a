// SheetDrain's entry: program paths, instance control, the application object
// and the main window, in that order; the window goes before the application.

#include "builtinapplication.h"
#include "instancecontrol.h"
#include "mainwindow.h"
#include "programpaths.h"
#include "programresources.h"
#include "signalbridge.h"

#include <QApplication>

int main(int argc, char **argv)
{
    initProgramResources();
    registerBuiltinApplication();

    // Only the first argument is used: the executable's path as it was typed.
    // A path too long for the buffers leaves both paths empty, which reads as
    // a missing settings file.
    SetProgramPaths(argc > 0 ? argv[0] : nullptr);

    // Of two copies, the first that /proc lists is told to go; that may be
    // this very process, which then ends here before it shows anything.
    if (CountProcessesNamed(kProgramExeName) > 1)
        TerminateFirstProcessNamed(kProgramExeName);

    int exitCode = 0;
    QApplication app(argc, argv);
    {
        // From here on SIGTERM, SIGINT and SIGHUP end the event loop the way
        // the tray's exit entry does, so a running batch is wound down by the
        // window's destructor instead of being cut off mid-file.
        QuitSignalBridge quitSignals;
        QObject::connect(&quitSignals, &QuitSignalBridge::quitRequested, &app,
                         &QCoreApplication::quit, Qt::QueuedConnection);

        MainWindow window(nullptr);
        window.show();
        exitCode = app.exec();
    }
    return exitCode;
}
