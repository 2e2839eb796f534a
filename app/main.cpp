// SheetDrain's entry: program paths, instance control, the application object
// and the main window, in that order; the window goes before the application.

#include "batchloop.h"
#include "builtinapplication.h"
#include "formgeometry.h"
#include "instancecontrol.h"
#include "localeencoding.h"
#include "mainwindow.h"
#include "programlanguage.h"
#include "programpaths.h"
#include "programresources.h"
#include "signalbridge.h"

#include <QApplication>

namespace {

// The name that copies of the program look for. A test build of the program
// uses a name of its own, so that the test suite never sees, let alone
// closes, a copy that someone is using.
#ifdef SHEETDRAIN_TEST_INSTANCE_NAME
constexpr const char *kInstanceName = SHEETDRAIN_TEST_INSTANCE_NAME;
#else
constexpr const char *kInstanceName = kProgramExeName;
#endif

} // namespace

int main(int argc, char **argv)
{
    initProgramResources();
    registerBuiltinApplication();

    // The program's folder is that of the running executable (the first
    // argument only when /proc cannot tell). A path too long for the buffers
    // leaves both paths empty, which reads as a missing settings file. When
    // the settings file there cannot be written (a system install), the
    // user's own file under $XDG_CONFIG_HOME/SheetDrain is used instead.
    SetProgramPathsFromExecutable(argc > 0 ? argv[0] : nullptr);
    char configHome[PathBufferSize];
    ChooseSettingsFile(UserConfigHome(configHome, sizeof configHome) == 0 ? configHome : nullptr);

    // Of two copies of this user on this display, the first that /proc lists
    // is told to go; that may be this very process, which then ends here
    // before it shows anything.
    if (CountProcessesNamed(kInstanceName) > 1)
        TerminateFirstProcessNamed(kInstanceName);

    // Must precede the application object, and any thread.
    enableHighDpiScaling();
    ReserveDescriptorTable();

    int exitCode = 0;
    QApplication app(argc, argv);
    // File names, settings values and CSV files in the locale's encoding.
    UseLocaleEncoding();
    // The texts follow the locale (LANGUAGE, LANG): Chinese as written in
    // the sources, English for every other language.
    installProgramTranslations(&app);
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
