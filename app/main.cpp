#include "app/DesktopSession.h"
#include "app/HelperLauncher.h"
#include "app/ProcessEnvironment.h"
#include "app/QuietConsole.h"
#include "app/SystemNetwork.h"
#include "app/frmMain.h"
#include "components/ProgramIcon.h"
#include "components/QtMessageBoxes.h"
#include "components/QtText.h"
#include "components/QtTrayIcon.h"
#include "components/WebHtmlView.h"
#include "dialogs/DialogSet.h"

#include "net/CheckServer.h"
#include "settings/BuildConfig.h"
#include "settings/Messages.h"
#include "settings/Profile.h"
#include "settings/Registry.h"
#include "settings/RegistryStore.h"
#include "settings/SingleInstance.h"
#include "settings/TerminationSignals.h"

#include <QApplication>

#ifdef PELLAMARK_TEST_SERVICE_HOST
#include "app/TestWindowJournal.h"
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

int main(int argc, char* argv[]) {
    // Until the event loop can take them (below), termination requests end start-up at once.
    endAtOnceOnTerminationSignals();
    // Before anything else, so that a second copy ends at once, silently and successfully.
    SingleInstance instance;
    if (instance.acquire() == SingleInstance::Result::AlreadyRunning)
        return 0;

    prepareWebEngineEnvironment();
    keepConsoleQuiet();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(qtText(ProgramTitle));
    // The launcher's name: a Wayland compositor finds the program's name and icon through it.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quellworks.pellamark"));
    QApplication::setWindowIcon(programIcon());
    // The program lives on in the tray with every window hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    auto store = makeUserRegistryStore();
    Registry registry(*store);
    GlobalSettings settings;
    Profile profile(registry, settings, currentExecutable(), std::string(ServiceHost));

    auto* view = new WebHtmlView; // owned by the window
    QtTrayIcon tray(programIcon());
    QtMessageBoxes messageBoxes;
    auto launcher = makeHelperLauncher(QCoreApplication::applicationDirPath());

    frmMain window({*view, tray, messageBoxes, *launcher, settings,
                    [](ServerCheckHost& host) {
                        NetworkWait wait;
                        wait.systemOffline = systemSaysOffline;
                        return CheckServer(host, OpenUrl, ServiceHost, wait);
                    },
                    [&profile](ProfileHost& host) { profile.LoadProfile(host); },
                    [] {
                        // Nothing may run after the unload; the store has synced its writes.
                        std::fflush(nullptr);
                        std::_Exit(0);
                    }});
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
