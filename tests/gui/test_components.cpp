// The components and platform pieces behind the main window: helper launcher, page view, tray
// icon codes and the window process's messages.
#include "TempDir.h"
#include "app/DesktopLauncher.h"
#include "components/MainWindowWidget.h"
#include "components/OwnPage.h"
#include "components/PageRetry.h"
#include "components/QtTrayIcon.h"
#include "components/WebEngineEnvironment.h"
#include "components/WebHtmlView.h"
#include "components/WindowChannel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace pellamark;
using pellamark::testing::TempDir;

namespace {

TEST(DesktopLauncherTest, OpensOnlyFilesThatExistBesideTheProgram) {
    TempDir folder;
    QList<QUrl> opened;
    bool openerWorks = true;
    DesktopLauncher launcher(QString::fromStdString(folder.path().string()), [&](const QUrl& url) {
        opened << url;
        return openerWorks;
    });
    EXPECT_FALSE(launcher.openHelp()); // missing: the desktop handler is never asked
    EXPECT_TRUE(opened.isEmpty());

    pellamark::testing::writeFile(folder / "pellamark.html", "<p>help</p>");
    pellamark::testing::writeFile(folder / "terms.txt", "terms");
    EXPECT_TRUE(launcher.openHelp());
    EXPECT_TRUE(launcher.openProgramFile(QStringLiteral("terms.txt")));
    EXPECT_EQ(opened,
              (QList<QUrl>{
                  QUrl::fromLocalFile(QString::fromStdString((folder / "pellamark.html").string())),
                  QUrl::fromLocalFile(QString::fromStdString((folder / "terms.txt").string()))}));
    openerWorks = false;
    EXPECT_FALSE(launcher.openHelp());
    EXPECT_EQ(launcher.helpFilePath(),
              QString::fromStdString((folder / "pellamark.html").string()));
}

TEST(WebHtmlViewTest, BlankAddressesDoNotStartTheEngine) {
    WebHtmlView view;
    for (const char* address : {"about:blank", "", "  ", "ABOUT:BLANK"})
        view.PageAddress(QString::fromLatin1(address));
    EXPECT_FALSE(view.engineStarted());
    view.Width(300.4);
    view.Height(-3);
    EXPECT_EQ(view.size(), QSize(300, 0));
}

TEST(WebHtmlViewTest, AnEngineThatCannotBeLoadedIsSaidInTheView) {
    WebHtmlView view(QStringLiteral("/nonexistent/pellamark-webengine.so"));
    view.PageAddress(QStringLiteral("http://127.0.0.1:9/app/fav.asp?userid=x"));
    // The engine is started once the view has been shown (and painted).
    view.show();
    const auto* placeholder = view.findChild<QLabel*>(QStringLiteral("HTML1_placeholder"));
    ASSERT_NE(placeholder, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([placeholder] {
        return placeholder->text().startsWith(QStringLiteral("The page view could not be started"));
    })) << placeholder->text().toStdString();
    view.PageAddress(QStringLiteral("about:blank"));
    EXPECT_FALSE(view.engineStarted());
}

// Each failure in its own sentence, the way back a link to the address itself, escaped.
TEST(OwnPageTest, SaysWhatHappenedAndLeadsBack) {
    using Kind = PageFailure::Kind;
    const QUrl address(QStringLiteral("http://h:8480/app/fav.asp?userid=a&emailid=\"x\"@y"));
    const std::pair<PageFailure, const char*> cases[] = {
        {{Kind::Unreachable, 0}, "cannot be reached at the moment."},
        {{Kind::Broken, 0}, "broke off before the page came."},
        {{Kind::NameNotFound, 0}, "name could not be found: the network may not be up yet."},
        {{Kind::Certificate, 0}, "is not safe: its certificate was refused"},
        {{Kind::ServerError, 503}, "cannot give out the page just now (it answered 503)."},
    };
    for (const auto& [failure, sentence] : cases) {
        const QString html = ownPageHtml(failure, address);
        EXPECT_TRUE(html.contains(QString::fromLatin1(sentence))) << sentence;
        EXPECT_TRUE(html.contains(QStringLiteral(
            "href=\"http://h:8480/app/fav.asp?userid=a&amp;emailid=%22x%22@y\">Try again</a>")))
            << html.toStdString();
        EXPECT_TRUE(html.contains(QStringLiteral("prefers-color-scheme: dark")));
    }
}

// Tries grow from a few seconds to a minute; the network coming back tries soon; nothing runs
// while the view is put away, and the wait goes on when it is back.
TEST(PageRetryTest, WaitsLongerEachTimeAndOnlyOnScreen) {
    PageRetry retry;
    QSignalSpy tries(&retry, &PageRetry::retry);
    std::vector<int> delays;
    for (int i = 0; i < 8; ++i) {
        retry.failed();
        delays.push_back(retry.nextDelayMs());
    }
    EXPECT_EQ(delays, (std::vector<int>{2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));

    retry.setOnScreen(false);
    retry.networkChanged();
    QTest::qWait(PageRetry::AfterNetworkMs * 2);
    EXPECT_EQ(tries.count(), 0) << "put away";
    retry.setOnScreen(true);
    retry.networkChanged();
    EXPECT_TRUE(tries.wait(PageRetry::AfterNetworkMs * 4));

    retry.stop();
    EXPECT_FALSE(retry.pending());
    retry.networkChanged(); // nothing failed: nothing to try
    QTest::qWait(PageRetry::AfterNetworkMs * 2);
    EXPECT_EQ(tries.count(), 1);
    retry.failed();
    EXPECT_EQ(retry.nextDelayMs(), PageRetry::FirstDelayMs) << "a new failure starts short";
}

TEST(WebHtmlViewTest, ZoomStepsAsABrowserDoes) {
    EXPECT_EQ(WebHtmlView::zoomedIn(1.0), 1.1);
    EXPECT_EQ(WebHtmlView::zoomedOut(1.0), 0.9);
    EXPECT_EQ(WebHtmlView::zoomedIn(1.17), 1.25) << "from between two steps";
    EXPECT_EQ(WebHtmlView::zoomedIn(5.0), 5.0);
    EXPECT_EQ(WebHtmlView::zoomedOut(0.25), 0.25);
}

TEST(WebHtmlViewTest, OnlyWebAddressesLeaveForTheBrowser) {
    const std::pair<const char*, bool> cases[] = {{"http://example.org/a", true},
                                                  {"https://example.org/", true},
                                                  {"mailto:a@b.example", true},
                                                  {"file:///etc/passwd", false},
                                                  {"javascript:alert(1)", false},
                                                  {"data:text/html,x", false},
                                                  {"", false},
                                                  {"smb://host/share", false}};
    for (auto [url, allowed] : cases)
        EXPECT_EQ(mayOpenExternally(QUrl(QString::fromLatin1(url))), allowed) << url;
}

TEST(QtTrayIconTest, OnlyTheContextActionAsksForTheMenu) {
    const std::pair<QSystemTrayIcon::ActivationReason, int> cases[] = {
        {QSystemTrayIcon::Context, 2},
        {QSystemTrayIcon::Trigger, 1},
        {QSystemTrayIcon::DoubleClick, 1},
        {QSystemTrayIcon::MiddleClick, 1},
        {QSystemTrayIcon::Unknown, 1}};
    for (auto [reason, code] : cases)
        EXPECT_EQ(QtTrayIcon::codeFor(reason), code) << reason;
}

TEST(WindowChannelTest, EveryMessageComesBackAsSentOnOneLine) {
    using Kind = WindowMessage::Kind;
    QByteArray binary;
    for (int byte = 0; byte < 256; ++byte)
        binary += static_cast<char>(byte);
    const WindowMessage cases[] = {
        {Kind::Hello, {}, {}, {WindowChannelVersion, 0, 0}},
        {Kind::Show, {}, {}, {1}},
        {Kind::Hide, {}, {}, {2}},
        {Kind::Minimise, {}, {}, {3}},
        {Kind::Restore, {}, {}, {2147483647}},
        {Kind::Focus, {}, {}, {}},
        {Kind::Prepare, {}, {}, {}},
        {Kind::Page, QStringLiteral("http://h/app/fav.asp?userid=a b&e=\u00e9%41\n-"), {}, {}},
        {Kind::Page, QStringLiteral("-"), {}, {}},
        {Kind::Page, {}, {}, {}},
        {Kind::ViewSize, {}, {}, {760, 0, 0}},
        {Kind::ViewSize, {}, {}, {-1, 2147483647, 0}},
        {Kind::Placement, {}, binary, {}},
        {Kind::Placement, {}, {}, {}},
        {Kind::Close, {}, {}, {}},
        {Kind::State, {}, {}, {StateMaximised, 1024, 700, 12}},
        {Kind::Menu, QStringLiteral("menuoptions"), {}, {}},
        {Kind::Placed, {}, QByteArray("\n \n"), {}},
        {Kind::Zoom, {}, {}, {125}},
        {Kind::Zoomed, {}, {}, {50}},
        {Kind::Renew, {}, {}, {}},
    };
    for (const WindowMessage& message : cases) {
        const QByteArray line = encodeWindowMessage(message);
        EXPECT_TRUE(line.endsWith('\n')) << line.constData();
        EXPECT_EQ(line.count('\n'), 1) << line.constData();
        const auto decoded = decodeWindowMessage(line);
        ASSERT_TRUE(decoded.has_value()) << line.constData();
        EXPECT_TRUE(*decoded == message) << line.constData();
    }
}

TEST(WindowChannelTest, LinesOfAnotherShapeAreNoMessages) {
    for (const char* line :
         {"", "\n", "bogus", "Show", "show now", "view 1", "view a 2", "view 1 2 3", "state 1 2 3",
          "show", "page", "page a b", "placement !!", "hello", "menu\tx"})
        EXPECT_FALSE(decodeWindowMessage(line).has_value()) << line;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareWebEngineEnvironment();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
