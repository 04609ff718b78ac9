#include "app/DesktopSession.h"
#include "app/HelperLauncher.h"
#include "app/ProcessEnvironment.h"
#include "app/ProcessWindowSurface.h"
#include "app/SystemNetwork.h"
#include "app/frmMain.h"
#include "components/ProgramIcon.h"
#include "components/QtMessageBoxes.h"
#include "components/QtText.h"
#include "components/QtTrayIcon.h"
#include "components/QuietConsole.h"
#include "dialogs/DialogSet.h"

#include "net/CheckServer.h"
#include "net/TransientFetch.h"
#include "settings/BuildConfig.h"
#include "settings/Messages.h"
#include "settings/Profile.h"
#include "settings/Registry.h"
#include "settings/RegistryStore.h"
#include "settings/SingleInstance.h"
#include "settings/TerminationSignals.h"

#include <QApplication>
#include <QProcessEnvironment>

#ifdef PELLAMARK_TEST_SERVICE_HOST
#include "components/TestWindowJournal.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace pellamark;

// The service host is fixed when the program is built; the copy used by the desktop tests is
// built with its own.
#ifdef PELLAMARK_TEST_SERVICE_HOST
static constexpr std::string_view ServiceHost = PELLAMARK_TEST_SERVICE_HOST;
#else
static constexpr std::string_view ServiceHost = config::ServiceHost;
#endif
#ifndef PELLAMARK_WINDOW_PROGRAM
#define PELLAMARK_WINDOW_PROGRAM "pellamark-window"
#endif

// How long the window process outlives a window put away. The desktop tests' build takes it from
// the environment, to see the window come back without waiting long.
static int windowGraceMs() {
#ifdef PELLAMARK_TEST_SERVICE_HOST
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("PELLAMARK_WINDOW_GRACE_MS", &ok);
    if (ok && ms >= 0)
        return ms;
#endif
    return ProcessWindowSurface::DefaultGraceMs;
}

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
    Profile profile(registry, settings, currentExecutable(), std::string(ServiceHost));

    ProcessWindowSurface surface(QStringLiteral(PELLAMARK_WINDOW_PROGRAM), windowEnvironment,
                                 windowGraceMs());
    QtTrayIcon tray(programIcon());
    QtMessageBoxes messageBoxes;
    auto launcher = makeHelperLauncher(QCoreApplication::applicationDirPath());

    const UrlFetcher fetch = transientFetcher(currentExecutable().folder);

    frmMain window({surface, tray, messageBoxes, *launcher, settings,
                    [&fetch](ServerCheckHost& host) {
                        NetworkWait wait;
                        wait.systemOffline = systemSaysOffline;
                        return CheckServer(host, fetch, ServiceHost, wait);
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

#ifdef PELLAMARK_TEST_SERVICE_HOST
    TestWindowJournal journal;
#endif
    window.Form_Load();
    // From here on the event loop takes the termination requests and ends the program the way
    // Exit does.
    TerminationWatcher termination([&window] { window.unloadMain(); });
    return QApplication::exec();
}
