#include "app/DesktopSession.h"
#include "app/HelperLauncher.h"
#include "app/ProcessWindowSurface.h"
#include "app/ProgramVariant.h"
#include "app/SystemNetwork.h"
#include "app/TerminationWatcher.h"
#include "app/frmMain.h"
#include "components/ProgramIcon.h"
#include "components/QtMessageBoxes.h"
#include "components/QtText.h"
#include "components/QtTrayIcon.h"
#include "components/QuietConsole.h"
#include "dialogs/DialogSet.h"

#include "base/Messages.h"
#include "net/CheckServer.h"
#include "net/TransientFetch.h"
#include "settings/Profile.h"
#include "settings/Registry.h"
#include "settings/RegistryStore.h"
#include "system/SingleInstance.h"
#include "system/TerminationSignals.h"

#include <QApplication>
#include <QProcessEnvironment>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace pellamark;

int main(int argc, char* argv[]) {
    // Until the event loop can take them (below), termination requests end start-up at once.
    endAtOnceOnTerminationSignals();
    // Before anything else, so that a second copy ends at once, silently and successfully.
    SingleInstance instance;
    if (instance.acquire() == SingleInstance::Result::AlreadyRunning)
        return 0;

    keepConsoleQuiet();
    // The window process gets the environment as it came; what follows is for this one only.
    const QProcessEnvironment windowEnvironment = QProcessEnvironment::systemEnvironment();
    // The tray, the menus and the dialogs draw without OpenGL: on X11 the GL library and its
    // driver are then never loaded here (the web engine, which needs them, is in the window
    // process). A choice of the user's stays.
    const bool withoutGl = !qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION");
    if (withoutGl)
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    // Read when the application object was made; the programs this one starts (the help viewer,
    // the terms file's editor) must not inherit it.
    if (withoutGl)
        qunsetenv("QT_XCB_GL_INTEGRATION");
    QApplication::setApplicationName(qtText(ProgramTitle));
    QGuiApplication::setDesktopFileName(qtText(DesktopFileName));
    QApplication::setWindowIcon(programIcon());
    // The program lives on in the tray with every window hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    auto store = makeUserRegistryStore();
    Registry registry(*store);
    GlobalSettings settings;
    const ProgramVariant variant = programVariant();
    Profile profile(registry, settings, currentExecutable(), std::string(variant.serviceHost));

    ProcessWindowSurface surface(variant.windowProgram, windowEnvironment, variant.windowGraceMs);
    QtTrayIcon tray(programIcon());
    QtMessageBoxes messageBoxes;
    auto launcher = makeHelperLauncher(QCoreApplication::applicationDirPath());

    const UrlFetcher fetch = transientFetcher(currentExecutable().folder);

    frmMain window({surface, tray, messageBoxes, *launcher, settings,
                    [&fetch, &variant](ServerCheckHost& host) {
                        NetworkWait wait;
                        wait.systemOffline = systemSaysOffline;
                        return CheckServer(host, fetch, variant.serviceHost, wait);
                    },
                    [&profile](ProfileHost& host) { profile.LoadProfile(host); },
                    [] {
                        // Nothing may run after the unload; the store has synced its writes.
                        std::fflush(nullptr);
                        std::_Exit(0);
                    },
                    [&registry] { return registry.RegKeyExists(HKEY_CURRENT_USER_, ProfileKey); }});
    DialogSet dialogs(settings, profile, window);
    window.setDialogLoader(dialogs);

    followDesktopSession(app, window);

    const std::unique_ptr<QObject> companion = makeProgramCompanion();
    window.Form_Load();
    // From here on the event loop takes the termination requests and ends the program the way
    // Exit does.
    TerminationWatcher termination([&window] { window.unloadMain(); });
    return QApplication::exec();
}
