// The main window's logic driving a real window in this process, with recording stand-ins for
// its view, tray icon, message boxes, helper programs and dialogs.
#include "app/frmMain.h"

#include "RecordingMessageBoxes.h"

#include "app/ChannelWindowSurface.h"
#include "app/DesktopSession.h"
#include "app/HelperLauncher.h"
#include "app/MainWindowSurface.h"
#include "base/BuildConfig.h"
#include "base/RunTimeError.h"
#include "components/HtmlView.h"
#include "components/MessageBoxes.h"
#include "components/QuietConsole.h"
#include "components/TrayIcon.h"
#include "components/WindowEndpoint.h"
#include "dialogs/DialogCommon.h"
#include "net/CheckServer.h"
#include "settings/Profile.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <private/qguiapplication_p.h>
#include <qpa/qwindowsysteminterface.h>

#include <gtest/gtest.h>

#include <deque>
#include <memory>

using namespace pellamark;

// Journals print as text in the failures.
void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace {

const QString Fav = QStringLiteral("http://127.0.0.1:1/app/fav.asp?userid=abcde0123456789");
const QString Blank = QStringLiteral("about:blank");

struct RecordingView : QWidget, HtmlView {
    explicit RecordingView(QStringList& journal) : journal(journal) {}
    void PageAddress(const QString& address) override {
        journal << QStringLiteral("page ") + address;
    }
    void Width(double w) override {
        journal << QStringLiteral("width %1").arg(w);
        resize(int(w), height());
    }
    void Height(double h) override {
        journal << QStringLiteral("height %1").arg(h);
        resize(width(), int(h));
    }
    QWidget* widget() override { return this; }
    void setZoom(double factor) override { journal << QStringLiteral("zoom %1").arg(factor); }
    QStringList& journal;
};

// The window in this process, as the window process shows it, reporting at once.
struct WidgetSurface : MainWindowSurface {
    explicit WidgetSurface(HtmlView& view) : view(view), widget(view) {
        connect(&widget, &MainWindowWidget::changed, this, &MainWindowSurface::changed);
        connect(&widget, &MainWindowWidget::closeCommand, this, &MainWindowSurface::closeCommand);
        connect(&widget, &MainWindowWidget::menuChosen, this, &MainWindowSurface::menuChosen);
    }
    void show() override { widget.show(); }
    void hide() override { widget.hide(); }
    void minimise() override { widget.showMinimisedState(); }
    void restoreNormal() override { widget.restoreNormalState(); }
    void focus() override { widget.focus(); }
    void PageAddress(const QString& address) override { view.PageAddress(address); }
    void setViewSize(int width, int height) override { widget.setViewSize(width, height); }
    bool isShown() const override { return widget.isVisible(); }
    int state() const override { return widget.state(); }
    QSize clientSize() const override { return widget.clientSize(); }
    HtmlView& view;
    MainWindowWidget widget;
};

// The window as the window process has it (its end of the channel on a MainWindowWidget), in
// this process, behind a channel whose messages arrive late and in order, as through a pipe to
// a busy process. It can fail to start, die, or be ended, as a process can.
struct LoopbackSurface : ChannelWindowSurface {
    struct WindowEnd {
        WindowEnd(QStringList& journal, WindowEndpoint::Send send)
            : view(new RecordingView(journal)), widget(*view),
              endpoint(widget, *view, std::move(send)) {}
        RecordingView* view; // owned by the widget
        MainWindowWidget widget;
        WindowEndpoint endpoint;
    };

    LoopbackSurface(QStringList& journal, int delayMs, int graceMs)
        : ChannelWindowSurface(graceMs), journal(journal), delayMs(delayMs) {
        delivery.setSingleShot(true);
        connect(&delivery, &QTimer::timeout, this, &LoopbackSurface::deliverDue);
    }

    QString startWindow() override {
        if (!startFailure.isEmpty())
            return startFailure;
        ++generation;
        const int mine = generation;
        end = std::make_unique<WindowEnd>(journal, [this, mine](const WindowMessage& message) {
            post(mine, false, encodeWindowMessage(message));
        });
        ++starts;
        if (onStart)
            onStart(end->widget);
        end->endpoint.start();
        return {};
    }
    void sendLine(const QByteArray& line) override { post(generation, true, line); }
    void endWindow() override { retire(); }

    // The window process dies: what it had not yet read or said is lost with it.
    void die() {
        retire();
        windowEnded(QStringLiteral("it was stopped by signal 9"));
    }
    bool idle() const { return queue.empty(); }
    MainWindowWidget* widget() const { return end ? &end->widget : nullptr; }
    WindowEndpoint* endpoint() const { return end ? &end->endpoint : nullptr; }

    std::function<void(MainWindowWidget&)> onStart;
    QString startFailure;
    int starts = 0;

private:
    struct Line {
        int generation;
        bool toWindow;
        QByteArray line;
        qint64 due;
    };
    void retire() {
        ++generation;
        if (end) {
            end->widget.hide();
            retired.push_back(std::move(end));
        }
    }
    void post(int from, bool toWindow, const QByteArray& line) {
        queue.push_back({from, toWindow, line, clock.elapsed() + delayMs});
        if (!delivery.isActive())
            delivery.start(delayMs);
    }
    void deliverDue() {
        while (!queue.empty() && queue.front().due <= clock.elapsed()) {
            const Line next = queue.front();
            queue.pop_front();
            if (next.generation != generation || !end)
                continue;
            if (next.toWindow)
                end->endpoint.carryOut(*decodeWindowMessage(next.line));
            else
                lineReceived(next.line);
        }
        if (!queue.empty())
            delivery.start(int(std::max<qint64>(0, queue.front().due - clock.elapsed())));
    }

    QStringList& journal;
    int delayMs;
    std::unique_ptr<WindowEnd> end;
    std::vector<std::unique_ptr<WindowEnd>> retired;
    int generation = 0;
    std::deque<Line> queue;
    QTimer delivery;
    QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
};

// How the logic reaches the window: directly, reporting at once; through a channel whose
// messages arrive late; or late and with the window system's maximise and un-maximise told in
// two pieces, the state first and the size some 70 ms after.
enum class Link { Direct, Late, Split };

struct RecordingTray : TrayIcon {
    explicit RecordingTray(QStringList& journal) : journal(journal) {}
    void AddIcon() override { journal << QStringLiteral("AddIcon"), shown = true; }
    void TipText(const QString& text) override { journal << QStringLiteral("TipText ") + text; }
    bool IsIconShown() const override { return shown; }
    void RemoveIcon() override { journal << QStringLiteral("RemoveIcon"), shown = false; }
    bool IsTrayAvailable() const override { return available; }
    QStringList& journal;
    bool shown = false;
    bool available = true;
};

struct FakeLauncher : HelperLauncher {
    explicit FakeLauncher(QStringList& journal) : journal(journal) {}
    bool openHelp() override { return journal << QStringLiteral("openHelp"), helpWorks; }
    bool openProgramFile(const QString& name) override {
        return journal << QStringLiteral("open ") + name, true;
    }
    QString helpFilePath() const override { return QStringLiteral("/opt/pm/pellamark.html"); }
    QStringList& journal;
    bool helpWorks = true;
};

struct FakeDialogs : DialogLoader {
    explicit FakeDialogs(QStringList& journal) : journal(journal) {}
    void loadSignUp() override { journal << QStringLiteral("loadSignUp"); }
    void loadOptions() override { journal << QStringLiteral("loadOptions"); }
    void loadAbout() override { journal << QStringLiteral("loadAbout"); }
    QStringList& journal;
};

// A dialog that records how it is closed, to see the unload reach every window.
struct OtherWindow : QDialog {
    explicit OtherWindow(QStringList& journal) : journal(journal) {}
    void closeEvent(QCloseEvent* event) override {
        journal << QStringLiteral("other closed, visible=%1").arg(isVisible());
        QDialog::closeEvent(event);
    }
    QStringList& journal;
};

class MainWindowTest : public ::testing::Test {
public:
    void SetUp() override {
        window.reset();
        surface.reset();
        loopback = nullptr;
        screen = nullptr;
        if (link == Link::Direct) {
            view = new RecordingView(journal); // owned by the window
            auto direct = std::make_unique<WidgetSurface>(*view);
            screen = &direct->widget;
            surface = std::move(direct);
        } else {
            auto channel = std::make_unique<LoopbackSurface>(journal, ChannelDelayMs, graceMs);
            channel->onStart = [this](MainWindowWidget& started) { screen = &started; };
            loopback = channel.get();
            surface = std::move(channel);
        }
        loadProfile = [this](ProfileHost& host) { // a stored profile
            settings.FavoritesUrl = Fav.toStdString();
            host.PageAddress(settings.FavoritesUrl);
            host.ShowMainWindow();
        };
        window =
            std::make_unique<frmMain>(frmMain::Parts{*surface, tray, boxes, launcher, settings,
                                                     [this](ServerCheckHost& host) {
                                                         journal << QStringLiteral("CheckServer");
                                                         return checkServer(host);
                                                     },
                                                     [this](ProfileHost& host) {
                                                         journal << QStringLiteral("LoadProfile");
                                                         loadProfile(host);
                                                     },
                                                     [this] {
                                                         journal << QStringLiteral("end");
                                                         ++ended;
                                                     }});
        window->setDialogLoader(dialogs);
    }
    void TearDown() override {
        window.reset();
        surface.reset();
    }

    // Lets the window system deliver what it queued, the channel carry it and the state
    // handling run.
    void settle() {
        QTest::qWait(frmMain::StateSettleMs / 2);
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return !window->windowStateHandlingPending(); }, 2000));
        // Through the channel, a handling's commands still have their way to go, and a report
        // may yet raise another: two looks in a row with nothing under way.
        for (int quiet = 0; loopback && quiet < 2;) {
            QTest::qWait(2 * ChannelDelayMs);
            quiet = loopback->idle() && !window->windowStateHandlingPending() ? quiet + 1 : 0;
        }
    }
    void startShown() {
        window->Form_Load();
        settle();
        journal.clear();
    }
    // A menu bar item of the window or an item of the tray menu.
    QAction* item(const char* name) {
        const QString objectName = QString::fromLatin1(name);
        if (QAction* action = screen ? screen->findChild<QAction*>(objectName) : nullptr)
            return action;
        return window->trayMenu()->findChild<QAction*>(objectName);
    }
    QSize client() const { return screen->centralWidget()->size(); }
    QStringList fitted() const {
        return {QStringLiteral("width %1").arg(client().width() - 20),
                QStringLiteral("height %1").arg(client().height() - 20)};
    }
    // The window system changes the window's state, as the user asked it to.
    void setState(int state) {
        const Qt::WindowState qt[] = {Qt::WindowNoState, Qt::WindowMinimized, Qt::WindowMaximized};
        if (link != Link::Split || !screen->isVisible()) {
            screen->setWindowState(qt[state]);
            settle();
            return;
        }
        QWindow* native = screen->windowHandle();
        if (screen->windowState() == Qt::WindowNoState)
            normalGeometry = native->geometry();
        QWindowSystemInterface::handleWindowStateChanged(native, qt[state]);
        QTest::qWait(70);
        if (state == StateMaximised)
            QWindowSystemInterface::handleGeometryChange(native,
                                                         native->screen()->availableGeometry());
        else if (state == StateNormal)
            QWindowSystemInterface::handleGeometryChange(native, normalGeometry);
        settle();
    }
    // The window system's own close command (title bar, Alt+F4).
    void closeFromTitleBar() {
        QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
            screen->windowHandle());
    }

    QStringList journal;
    GlobalSettings settings;
    RecordingView* view = nullptr;
    static constexpr int ChannelDelayMs = 20;
    Link link = Link::Direct;
    int graceMs = 60000;
    std::unique_ptr<MainWindowSurface> surface;
    LoopbackSurface* loopback = nullptr;
    // The window on screen; another one after the window's end has been started again.
    MainWindowWidget* screen = nullptr;
    QRect normalGeometry;
    RecordingTray tray{journal};
    RecordingMessageBoxes boxes{&journal};
    FakeLauncher launcher{journal};
    FakeDialogs dialogs{journal};
    std::function<bool(ServerCheckHost&)> checkServer = [](ServerCheckHost&) { return true; };
    std::function<void(ProfileHost&)> loadProfile;
    int ended = 0;
    std::unique_ptr<frmMain> window;
};

TEST_F(MainWindowTest, MenusAndCaption) {
    EXPECT_EQ(screen->windowTitle(), QStringLiteral("Pellamark"));
    QStringList bar;
    for (QAction* a : screen->menuBar()->actions())
        bar << a->menu()->objectName() + QLatin1Char('=') + a->text();
    EXPECT_EQ(bar, (QStringList{QStringLiteral("file=File"), QStringLiteral("menuhelp=Help")}));
    const std::pair<const char*, const char*> items[] = {
        {"menuoptions", "Options"}, {"menuclose", "Exit"},      {"menupmhelp", "Pellamark Help"},
        {"menuabout", "About"},     {"trayrestore", "Restore"}, {"trayoptions", "Options"},
        {"trayClose", "Exit"}};
    for (auto [name, caption] : items) {
        ASSERT_NE(item(name), nullptr) << name;
        EXPECT_EQ(item(name)->text(), QString::fromLatin1(caption)) << name;
    }
    EXPECT_EQ(window->trayMenu()->objectName(), QStringLiteral("systraymenu"));
    EXPECT_EQ(window->trayMenu()->actions(),
              (QList<QAction*>{item("trayrestore"), item("trayoptions"), item("trayClose")}));
}

TEST_F(MainWindowTest, StartWithProfileShowsPageWithoutReloadOnFirstDisplay) {
    window->Form_Load();
    EXPECT_EQ(journal,
              (QStringList{QStringLiteral("AddIcon"), QStringLiteral("TipText Pellamark"),
                           QStringLiteral("page about:blank"), QStringLiteral("CheckServer"),
                           QStringLiteral("LoadProfile"), QStringLiteral("page ") + Fav}));
    EXPECT_TRUE(screen->isVisible());
    EXPECT_FALSE(item("trayrestore")->isVisible());
    journal.clear();
    settle();
    // The first handling has no recorded state: it counts as normal, so the page stays.
    EXPECT_EQ(journal, fitted());
    EXPECT_EQ(window->LastWindowState(), std::optional<int>(StateNormal));
}

TEST_F(MainWindowTest, StartWithoutProfileWaitsHiddenForSignUp) {
    loadProfile = [](ProfileHost& host) { host.LoadSignUpDialog(); };
    window->Form_Load();
    settle();
    EXPECT_EQ(journal.mid(4),
              (QStringList{QStringLiteral("LoadProfile"), QStringLiteral("loadSignUp")}));
    EXPECT_FALSE(screen->isVisible());
    EXPECT_FALSE(item("trayrestore")->isVisible());
    EXPECT_TRUE(item("trayoptions")->isVisible() && item("trayoptions")->isEnabled());
    EXPECT_FALSE(window->LastWindowState().has_value());
    EXPECT_EQ(ended, 0);
}

TEST_F(MainWindowTest, UnreachableServerEndsBeforeTheProfile) {
    checkServer = [](ServerCheckHost& host) {
        host.MsgBox("unreachable");
        host.UnloadMain();
        return false;
    };
    window->Form_Load();
    EXPECT_EQ(journal.mid(3),
              (QStringList{QStringLiteral("CheckServer"), QStringLiteral("MsgBox unreachable"),
                           QStringLiteral("RemoveIcon"), QStringLiteral("end")}));
    EXPECT_EQ(ended, 1);
}

TEST_F(MainWindowTest, FailureDuringLoadIsReportedAndEndsTheProgram) {
    struct Case {
        std::function<void()> fail;
        QString text;
    };
    const QString prefix =
        QStringLiteral("MsgBox An error occured.  Please report this to ") +
        QString::fromLatin1(config::SupportAddress.data(), config::SupportAddress.size()) +
        QStringLiteral(": ");
    const Case cases[] = {
        {[] { throw RunTimeError(5, "Access denied"); },
         prefix + QStringLiteral("5\tAccess denied")},
        {[] { throw RunTimeError(-2147024891, "Overflow"); },
         prefix + QStringLiteral("-2147024891\tOverflow")},
    };
    for (const Case& c : cases) {
        SetUp();
        journal.clear();
        loadProfile = [&c](ProfileHost&) { c.fail(); };
        window->Form_Load();
        EXPECT_EQ(journal.mid(5),
                  (QStringList{c.text, QStringLiteral("RemoveIcon"), QStringLiteral("end")}));
        EXPECT_TRUE(item("trayrestore")->isVisible()) << "the steps after the failure must not run";
    }
}

// The window state handling, one transition per row, as the window system reports it.
struct Transition {
    const char* name;
    std::optional<int> from; // empty: the transition is the first display
    int to;
    bool reload;       // view handed the favourites page
    bool blank;        // view handed about:blank
    bool resized;      // width and height set
    bool restoreShown; // trayrestore afterwards
};

const char* linkName(Link link) {
    return link == Link::Direct ? "Direct" : link == Link::Late ? "Late" : "Split";
}

class WindowStateTable : public MainWindowTest,
                         public ::testing::WithParamInterface<std::tuple<Transition, Link>> {
public:
    WindowStateTable() { link = std::get<1>(GetParam()); }
};

TEST_P(WindowStateTable, Handling) {
    const Transition& t = std::get<0>(GetParam());
    settings.FavoritesUrl = Fav.toStdString();
    if (t.from) {
        surface->show();
        settle();
        if (*t.from != StateNormal)
            setState(*t.from);
        journal.clear();
        setState(t.to);
    } else {
        surface->prepare(); // a window to be shown, not shown yet
        settle();
        journal.clear();
        setState(t.to); // while hidden: no handling yet
        EXPECT_TRUE(journal.isEmpty());
        surface->show();
        settle();
    }
    QStringList expected;
    if (t.resized)
        expected << fitted();
    if (t.reload)
        expected << QStringLiteral("page ") + Fav;
    if (t.blank)
        expected << QStringLiteral("page about:blank");
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(item("trayrestore")->isVisible(), t.restoreShown);
    EXPECT_EQ(window->LastWindowState(), std::optional<int>(t.to));
}

INSTANTIATE_TEST_SUITE_P(
    Transitions, WindowStateTable,
    ::testing::Combine(
        ::testing::Values(
            Transition{"NormalToMaximised", StateNormal, StateMaximised, false, false, true, false},
            Transition{"MaximisedToNormal", StateMaximised, StateNormal, false, false, true, false},
            Transition{"NormalToMinimised", StateNormal, StateMinimised, false, true, false, true},
            Transition{"MaximisedToMinimised", StateMaximised, StateMinimised, false, true, false,
                       true},
            Transition{"MinimisedToNormal", StateMinimised, StateNormal, true, false, true, false},
            Transition{"MinimisedToMaximised", StateMinimised, StateMaximised, true, false, true,
                       false},
            Transition{"FirstDisplayNormal", std::nullopt, StateNormal, false, false, true, false},
            Transition{"FirstDisplayMaximised", std::nullopt, StateMaximised, false, false, true,
                       false},
            Transition{"FirstDisplayMinimised", std::nullopt, StateMinimised, false, true, false,
                       true}),
        ::testing::Values(Link::Direct, Link::Late, Link::Split)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + linkName(std::get<1>(info.param));
    });

TEST_F(MainWindowTest, ResizingFollowsTheClientAreaAndClampsAtZero) {
    startShown();
    screen->resize(screen->width() + 100, screen->height());
    settle();
    EXPECT_EQ(journal, (QStringList{QStringLiteral("width 860"), QStringLiteral("height 560")}));
    journal.clear();
    screen->resize(15, 30);
    settle();
    EXPECT_EQ(journal, (QStringList{QStringLiteral("width 0"), QStringLiteral("height 0")}));
}

TEST_F(MainWindowTest, LeavingMinimisedBeforeAnyProfileHandsTheEmptyAddress) {
    screen->show();
    settle();
    setState(StateMinimised);
    journal.clear();
    setState(StateNormal);
    EXPECT_EQ(journal.last(), QStringLiteral("page "));
}

TEST_F(MainWindowTest, HidingAndShowingAgainIsNoWindowStateChange) {
    startShown();
    screen->hide();
    screen->show();
    settle();
    EXPECT_TRUE(journal.isEmpty());
}

TEST_F(MainWindowTest, OwnCloseCommandHidesToTheTray) {
    startShown();
    closeFromTitleBar();
    EXPECT_FALSE(screen->isVisible());
    EXPECT_TRUE(item("trayrestore")->isVisible());
    EXPECT_EQ(journal, QStringList{QStringLiteral("page about:blank")});
    EXPECT_EQ(ended, 0);

    // Restore brings it back without a window state handling; Restore stays offered.
    item("trayrestore")->trigger();
    settle();
    EXPECT_TRUE(screen->isVisible());
    EXPECT_EQ(journal.mid(1), QStringList{QStringLiteral("page ") + Fav});
    EXPECT_TRUE(item("trayrestore")->isVisible());
}

TEST_F(MainWindowTest, EveryOtherCloseEndsTheProgram) {
    struct Case {
        const char* name;
        std::function<void(MainWindowTest&)> close;
    };
    const Case cases[] = {
        {"programmatic", [](MainWindowTest& t) { t.window->close(); }},
        {"Exit in the File menu", [](MainWindowTest& t) { t.item("menuclose")->trigger(); }},
        {"Exit in the tray menu", [](MainWindowTest& t) { t.item("trayClose")->trigger(); }},
        {"session end", [](MainWindowTest& t) { t.window->sessionEnding(); }},
        {"unload while hidden",
         [](MainWindowTest& t) {
             t.surface->hide();
             t.window->unloadMain();
         }},
    };
    for (const Case& c : cases) {
        SetUp();
        ended = 0;
        startShown();
        c.close(*this);
        EXPECT_EQ(journal, (QStringList{QStringLiteral("RemoveIcon"), QStringLiteral("end")}))
            << c.name;
        EXPECT_EQ(ended, 1) << c.name;
        EXPECT_FALSE(screen->isVisible()) << c.name;
    }
}

// A session save, be it a checkpoint or the start of a logout the user may still cancel, leaves
// the program as it was; the end of the session (which the application receives as its quit)
// ends it once, shown or in the tray.
TEST_F(MainWindowTest, OnlyTheEndOfTheSessionEndsTheProgram) {
    for (bool shown : {true, false}) {
        SetUp();
        ended = 0;
        startShown();
        if (!shown)
            closeFromTitleBar();
        journal.clear();
        followDesktopSession(*qApp, *window);

        QGuiApplicationPrivate::instance()->commitData();
        QGuiApplicationPrivate::instance()->saveState();
        QTest::qWait(50);
        EXPECT_EQ(ended, 0) << "shown " << shown;
        EXPECT_EQ(screen->isVisible(), shown);
        EXPECT_TRUE(journal.isEmpty()) << journal.join(QLatin1Char('|')).toStdString();

        QTimer quit;
        quit.setSingleShot(true);
        QObject::connect(&quit, &QTimer::timeout, [] {
            QEvent event(QEvent::Quit);
            QCoreApplication::sendEvent(qApp, &event);
        });
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        quit.start(0);
        giveUp.start(5000);
        EXPECT_EQ(QApplication::exec(), 0) << "the quit did not end the event loop";
        EXPECT_EQ(journal, (QStringList{QStringLiteral("RemoveIcon"), QStringLiteral("end")}));
        EXPECT_EQ(ended, 1);
    }
}

TEST_F(MainWindowTest, UnloadRemovesOnlyAShownIconAndClosesEveryWindow) {
    for (bool iconShown : {true, false}) {
        SetUp();
        ended = 0;
        startShown();
        tray.shown = iconShown;
        auto* other = new OtherWindow(journal);
        other->setAttribute(Qt::WA_DeleteOnClose);
        other->show();
        window->unloadMain();
        QStringList expected;
        if (iconShown)
            expected << QStringLiteral("RemoveIcon");
        expected << QStringLiteral("other closed, visible=0") << QStringLiteral("end");
        EXPECT_EQ(journal, expected) << "icon shown " << iconShown;
        window->unloadMain(); // a second unload is no second end
        EXPECT_EQ(ended, 1);
    }
}

TEST_F(MainWindowTest, WithoutANotificationAreaPuttingAwayMinimisesInstead) {
    tray.available = false;
    startShown();
    closeFromTitleBar();
    settle();
    EXPECT_TRUE(screen->isVisible());
    EXPECT_TRUE(screen->isMinimized());
    EXPECT_EQ(journal, QStringList{QStringLiteral("page about:blank")});
    EXPECT_EQ(ended, 0);

    setState(StateNormal);
    journal.clear();
    item("menuoptions")->trigger();
    settle();
    EXPECT_TRUE(screen->isVisible() && screen->isMinimized());
    EXPECT_TRUE(journal.contains(QStringLiteral("loadOptions")));

    // A dialog closed with its close box offers Restore; the hidden window is reachable instead.
    screen->hide();
    window->setTrayRestoreVisible(true);
    settle();
    EXPECT_TRUE(screen->isVisible() && screen->isMinimized());
}

TEST_F(MainWindowTest, TrayMouseOtherThanTwoShowsTheWindowWithThePage) {
    struct Case {
        const char* name;
        int code;
        bool minimised;
    };
    for (const Case& c : {Case{"hidden", 1, false}, Case{"hidden, odd code", -7, false},
                          Case{"minimised", 1, true}}) {
        SetUp();
        startShown();
        if (c.minimised)
            setState(StateMinimised);
        else
            closeFromTitleBar();
        journal.clear();
        Q_EMIT tray.TrayMouse(c.code);
        settle();
        EXPECT_EQ(journal, QStringList{QStringLiteral("page ") + Fav}) << c.name;
        EXPECT_TRUE(screen->isVisible()) << c.name;
        EXPECT_EQ(screen->isMinimized(), c.minimised) << c.name;
        EXPECT_TRUE(item("trayrestore")->isVisible()) << c.name;
    }
}

TEST_F(MainWindowTest, TrayMouseTwoPopsUpTheTrayMenuAsItIsNow) {
    startShown();
    item("menuoptions")->trigger(); // hides, disables Restore and Options
    journal.clear();
    Q_EMIT tray.TrayMouse(2);
    QMenu* menu = window->trayMenu();
    ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }, 2000));
    EXPECT_FALSE(screen->isVisible());
    EXPECT_TRUE(journal.isEmpty());
    QStringList usable;
    for (QAction* a : menu->actions())
        if (a->isVisible() && a->isEnabled())
            usable << a->objectName();
    EXPECT_EQ(usable, QStringList{QStringLiteral("trayClose")});
    Q_EMIT tray.TrayMouse(2); // a second request while open: still one menu
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
}

TEST_F(MainWindowTest, RestoreFromMinimisedReloadsTwiceAndHidesRestore) {
    startShown();
    setState(StateMinimised);
    journal.clear();
    item("trayrestore")->trigger();
    settle();
    EXPECT_FALSE(screen->isMinimized());
    EXPECT_EQ(journal.filter(QStringLiteral("page")),
              (QStringList{QStringLiteral("page ") + Fav, QStringLiteral("page ") + Fav}));
    EXPECT_FALSE(item("trayrestore")->isVisible());
}

TEST_F(MainWindowTest, OptionsAndAboutPutTheWindowAwayAndLockTheTrayItems) {
    struct Case {
        const char* item;
        const char* loaded;
        bool minimised;
    };
    for (const Case& c :
         {Case{"menuoptions", "loadOptions", false}, Case{"trayoptions", "loadOptions", false},
          Case{"menuabout", "loadAbout", false}, Case{"menuoptions", "loadOptions", true},
          Case{"menuabout", "loadAbout", true}}) {
        SetUp();
        startShown();
        if (c.minimised)
            setState(StateMinimised);
        journal.clear();
        item(c.item)->trigger();
        settle();
        EXPECT_EQ(journal,
                  (QStringList{QStringLiteral("page about:blank"), QString::fromLatin1(c.loaded)}))
            << c.item;
        EXPECT_EQ(screen->isVisible(), c.minimised) << c.item;
        EXPECT_EQ(screen->isMinimized(), c.minimised) << c.item;
        EXPECT_FALSE(item("trayoptions")->isEnabled());
        EXPECT_FALSE(item("trayrestore")->isEnabled());
        EXPECT_TRUE(item("menuoptions")->isEnabled() && item("menuabout")->isEnabled());
    }
}

TEST_F(MainWindowTest, HelpReportsAViewerThatCouldNotOpen) {
    startShown();
    item("menupmhelp")->trigger();
    EXPECT_EQ(journal, QStringList{QStringLiteral("openHelp")});
    launcher.helpWorks = false;
    journal.clear();
    item("menupmhelp")->trigger();
    ASSERT_EQ(journal.size(), 2);
    EXPECT_TRUE(journal[1].startsWith(QStringLiteral("MsgBox ")));
    EXPECT_TRUE(journal[1].contains(QStringLiteral("/opt/pm/pellamark.html")));
    EXPECT_TRUE(screen->isVisible());
    EXPECT_EQ(ended, 0);
}

TEST_F(MainWindowTest, DialogsBringTheWindowBackThroughTheHost) {
    startShown();
    setState(StateMinimised);
    DialogHost& host = *window;
    EXPECT_TRUE(host.isMainMinimised());
    journal.clear();
    host.PageAddress(Fav);
    host.restoreMainToNormal();
    settle();
    EXPECT_FALSE(screen->isMinimized());
    EXPECT_EQ(journal.filter(QStringLiteral("page")).size(), 2);
    EXPECT_TRUE(host.openProgramFile(QStringLiteral("terms.txt")));
    EXPECT_EQ(journal.last(), QStringLiteral("open terms.txt"));
}

// The window in a process of its own, whose messages arrive late, which can be ended after the
// grace period, die, or fail to start.
class WindowProcessTest : public MainWindowTest {
public:
    WindowProcessTest() {
        link = Link::Late;
        graceMs = 100;
    }
    int pageLoads() const { return int(journal.count(QStringLiteral("page ") + Fav)); }
};

TEST_F(WindowProcessTest, AMaximisedWindowComesBackMaximisedWithoutAHandling) {
    startShown();
    setState(StateMaximised);
    closeFromTitleBar();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !loopback->isRunning(); }, 2000));
    journal.clear();
    item("trayrestore")->trigger();
    settle();
    EXPECT_EQ(loopback->starts, 2);
    EXPECT_TRUE(screen->isVisible() && screen->isMaximized());
    EXPECT_EQ(pageLoads(), 1) << "Restore's own, and no handling's";
    EXPECT_TRUE(item("trayrestore")->isVisible());
    EXPECT_EQ(window->LastWindowState(), std::optional<int>(StateMaximised));
}

// A window made anew, after the grace period or because its page view must start afresh, has
// the zoom the user set; and being made anew is no change of the window for the logic.
TEST_F(WindowProcessTest, ANewWindowKeepsTheZoomAndARenewIsNoChange) {
    startShown();
    setState(StateMaximised);
    loopback->endpoint()->reportZoom(1.5);
    settle();
    journal.clear();
    loopback->endpoint()->askRenew();
    settle();
    EXPECT_EQ(loopback->starts, 2);
    EXPECT_TRUE(screen->isVisible() && screen->isMaximized());
    EXPECT_TRUE(journal.contains(QStringLiteral("zoom 1.5")));
    EXPECT_EQ(pageLoads(), 1) << "the page it showed, and no handling's";
    EXPECT_FALSE(item("trayrestore")->isVisible());
    EXPECT_EQ(window->LastWindowState(), std::optional<int>(StateMaximised));
}

// A dialog's closing steps bring the window back, whatever happened to it meanwhile: its process
// died while it was minimised, or the window system minimised it and said so only after the
// dialog's command had put the window away.
TEST_F(WindowProcessTest, ADialogsClosingBringsTheWindowBackAfterADeathOrALateReport) {
    for (bool died : {true, false}) {
        SetUp();
        startShown();
        if (died) {
            setState(StateMinimised);
            loopback->die();
            settle();
        } else {
            screen->setWindowState(Qt::WindowMinimized); // reported after Options has run
        }
        item("trayoptions")->trigger();
        // The window's report of the minimise has come, the one that answers the hide not yet.
        QTest::qWait(ChannelDelayMs * 3 / 2);
        journal.clear();
        bringMainBack(settings, *window); // CANCEL
        settle();
        if (died) {
            EXPECT_EQ(loopback->starts, 2);
        }
        EXPECT_TRUE(screen->isVisible()) << died;
        EXPECT_FALSE(screen->isMinimized()) << died;
        EXPECT_EQ(pageLoads(), 1) << died;
        EXPECT_EQ(window->LastWindowState(), std::optional<int>(StateNormal)) << died;
    }
}

TEST_F(WindowProcessTest, AWindowThatCannotStartIsSaidOnceAndRestoreTriesAgain) {
    loopback->startFailure = QStringLiteral("the file /opt/pm/pellamark-window is missing");
    window->Form_Load(); // with a profile: prepared during the check, then shown
    settle();
    EXPECT_EQ(boxes.texts,
              QStringList{QStringLiteral(
                  "Pellamark could not open its window: the file "
                  "/opt/pm/pellamark-window is missing. Choose Restore in the tray menu "
                  "to try again.")});
    EXPECT_TRUE(item("trayrestore")->isVisible() && item("trayrestore")->isEnabled());
    EXPECT_EQ(ended, 0);

    loopback->startFailure.clear();
    journal.clear();
    item("trayrestore")->trigger();
    settle();
    ASSERT_NE(screen, nullptr);
    EXPECT_TRUE(screen->isVisible());
    EXPECT_EQ(pageLoads(), 1);
}

TEST_F(WindowProcessTest, AfterRepeatedQuickEndsOnlyTheUserStartsItAgain) {
    startShown();
    const QString said = QStringLiteral("it was stopped by signal 9");
    for (int end = 1; end <= ChannelWindowSurface::QuickEndsBeforeWaiting; ++end) {
        if (end > 1) {
            item("trayrestore")->trigger();
            settle();
        }
        journal.clear();
        boxes.texts.clear();
        loopback->die();
        settle();
        ASSERT_EQ(boxes.texts.size(), 1) << end;
        EXPECT_TRUE(boxes.texts[0].contains(said)) << end;
        EXPECT_EQ(boxes.texts[0].contains(QStringLiteral("%1 times in a row").arg(end)), end > 1);
    }
    EXPECT_TRUE(
        boxes.texts[0].endsWith(QStringLiteral("until you ask for it: choose Restore in the "
                                               "tray menu or click the tray icon.")));
    bringMainBack(settings, *window); // no loop: a dialog's closing does not start it
    settle();
    EXPECT_EQ(loopback->starts, ChannelWindowSurface::QuickEndsBeforeWaiting);
    Q_EMIT tray.TrayMouse(1);
    settle();
    EXPECT_EQ(loopback->starts, ChannelWindowSurface::QuickEndsBeforeWaiting + 1);
    EXPECT_TRUE(screen->isVisible());
}

TEST_F(WindowProcessTest, WithoutANotificationAreaAWindowThatCannotStartEndsTheProgram) {
    tray.available = false;
    loopback->startFailure = QStringLiteral("the file /opt/pm/pellamark-window is missing");
    window->Form_Load();
    settle();
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].endsWith(
        QStringLiteral("Pellamark ends now; start it again once that is put right.")));
    EXPECT_EQ(ended, 1);
}

// The libraries' chatter is off; their warnings and errors still reach standard error.
TEST(QuietConsole, OnlyWarningsAndErrorsAreWritten) {
    keepConsoleQuiet();
    for (const char* name : {"default", "qt.webenginecontext", "qt.qpa.xcb"}) {
        const QLoggingCategory category(name);
        EXPECT_FALSE(category.isDebugEnabled()) << name;
        EXPECT_FALSE(category.isInfoEnabled()) << name;
        EXPECT_TRUE(category.isWarningEnabled()) << name;
        EXPECT_TRUE(category.isCriticalEnabled()) << name;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet(
            "QT_QPA_PLATFORM")) // test discovery runs without ctest's environment
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
