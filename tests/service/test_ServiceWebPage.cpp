// The favourites page in the program's own page view and web engine, against the service binary.
// What a browser sends with a form (Origin, Referer) follows the page's headers, so only a real
// engine shows whether the page's own form gets past the cross-site check and another site's
// page does not.
#include "ServiceTestSupport.h"
#include "TestHttpServer.h"
#include "components/WebEngineEnvironment.h"
#include "components/WebHtmlView.h"

#include <QApplication>
#include <QTest>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <optional>
#include <string>

using namespace pellamark;
using namespace pellamark::service::testing;

namespace {

const std::string User = "abcde0123456789";
const std::string PagePath = "/app/fav.asp?userid=" + User + "&emailid=me@example.org";

// The script's result once the page has run it; an invalid value when it never did.
QVariant evaluate(QWebEngineView& web, const QString& script) {
    auto result = std::make_shared<std::optional<QVariant>>();
    web.page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                              [result](const QVariant& value) { *result = value; });
    if (!QTest::qWaitFor([&] { return result->has_value(); }, 10'000))
        return {};
    return **result;
}

TEST(ServiceWebPage, ThePagesOwnFormAddsAndAnotherSitesPageIsRefused) {
    TestStore store(StoreKind::Sqlite);
    Child service({PELLAMARK_SERVICE_BINARY, "--listen", "127.0.0.1:0", "--database",
                   store.databaseOption()});
    const int port = announcedPort(service.firstLine());
    ASSERT_GT(port, 0);
    const std::string page = "http://127.0.0.1:" + std::to_string(port) + PagePath;

    // Another origin (a port of its own) whose page posts an add to the service as soon as it
    // is opened.
    pellamark::testing::TestHttpServer elsewhere;
    elsewhere.setHandler([&](const pellamark::testing::HttpRequest&) {
        return pellamark::testing::HttpResponse{
            200,
            {{"Content-Type", "text/html"}},
            "<!DOCTYPE html><form method=\"post\" action=\"" + page +
                "\"><input type=\"hidden\" name=\"action\" value=\"add\">"
                "<input type=\"hidden\" name=\"title\" value=\"Planted\">"
                "<input type=\"hidden\" name=\"url\" value=\"https://elsewhere.example/\">"
                "</form><script>document.forms[0].submit()</script>"};
    });

    WebHtmlView view(QStringLiteral(PELLAMARK_WEBENGINE_MODULE));
    view.resize(760, 560);
    view.show();
    view.prepare(); // the engine at once, not after the first paint
    view.PageAddress(QString::fromStdString(page));
    auto* web = view.findChild<QWebEngineView*>();
    ASSERT_NE(web, nullptr) << "the engine module did not start";
    int loads = 0;
    QObject::connect(web, &QWebEngineView::loadFinished, [&](bool) { ++loads; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return loads > 0; }, 60'000));
    ASSERT_EQ(web->title().toStdString(), "Your favourites");

    // Typed and submitted as a user would: the form's own checks apply.
    const int before = loads;
    EXPECT_TRUE(evaluate(*web, QStringLiteral(R"(
        const form = document.querySelector('form.add');
        form.querySelector('[name=title]').value = 'Example';
        form.querySelector('[name=url]').value = 'https://example.org/';
        form.querySelector('button[type=submit]').click();
        true;)"))
                    .toBool());
    ASSERT_TRUE(QTest::qWaitFor([&] { return loads > before; }, 30'000));
    EXPECT_EQ(web->title().toStdString(), "Your favourites");
    EXPECT_EQ(evaluate(*web, QStringLiteral("[...document.querySelectorAll('li.fav a.title')]"
                                            ".map(a => a.textContent).join('|')"))
                  .toString()
                  .toStdString(),
              "Example");

    view.PageAddress(QString::fromStdString(elsewhere.url("/")));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return web->title() == QStringLiteral("Request refused"); }, 30'000))
        << web->title().toStdString();

    service.signal(SIGTERM);
    EXPECT_EQ(service.exitCode(), 0);
    const std::string log = service.readAll(true);
    EXPECT_NE(log.find("POST /app/fav.asp 303"), std::string::npos) << log;
    EXPECT_NE(log.find("POST /app/fav.asp 403"), std::string::npos) << log;
    const auto listed = pellamark::service::openStore(store.location(), 1)->list(User);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].title, "Example");
}

// The titles the page lists, in order, joined by "|".
std::string listed(QWebEngineView& web) {
    return evaluate(web, QStringLiteral("[...document.querySelectorAll('#results li.fav "
                                        "a.title')].map(a => a.textContent).join('|')"))
        .toString()
        .toStdString();
}

// Search as one types, a click on a tag of the list, and an edit reached with the keyboard:
// the page's script against the service's answers, as a person uses them.
TEST(ServiceWebPage, SearchesAsOneTypesFiltersByATagAndEditsFromTheKeyboard) {
    TestStore store(StoreKind::Sqlite);
    Child service({PELLAMARK_SERVICE_BINARY, "--listen", "127.0.0.1:0", "--database",
                   store.databaseOption()});
    const int port = announcedPort(service.firstLine());
    ASSERT_GT(port, 0);
    auto cli = clientFor(port);
    for (const char* form :
         {"action=add&title=Garden+tools&url=https%3A%2F%2Ftools.example%2F&tags=home%2Fgarden",
          "action=add&title=Cr%C3%A8me+br%C3%BBl%C3%A9e&url=https%3A%2F%2Fdessert.example%2F&tags="
          "cooking",
          "action=add&title=Garden+party&url=https%3A%2F%2Fparty.example%2F&tags=fun"}) {
        auto res = cli.Post(PagePath.c_str(), form, "application/x-www-form-urlencoded");
        ASSERT_TRUE(res && res->status == 303) << form;
    }

    WebHtmlView view(QStringLiteral(PELLAMARK_WEBENGINE_MODULE));
    view.resize(760, 560);
    view.show();
    view.prepare(); // the engine at once, not after the first paint
    view.PageAddress(QString::fromStdString("http://127.0.0.1:" + std::to_string(port) + PagePath));
    auto* web = view.findChild<QWebEngineView*>();
    ASSERT_NE(web, nullptr) << "the engine module did not start";
    int loads = 0;
    QObject::connect(web, &QWebEngineView::loadFinished, [&](bool) { ++loads; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return loads > 0; }, 60'000));
    ASSERT_EQ(listed(*web), "Garden party|Crème brûlée|Garden tools");
    EXPECT_EQ(evaluate(*web, QStringLiteral("document.documentElement.scrollWidth <= innerWidth"))
                  .toBool(),
              true)
        << "the page scrolls sideways in the client's view";

    // Typed without a page load: the results follow the box; accents need not be typed.
    const int beforeSearch = loads;
    evaluate(*web, QStringLiteral(R"(
        const box = document.querySelector('input[name=q]');
        box.value = 'creme';
        box.dispatchEvent(new Event('input'));
        true;)"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed(*web) == "Crème brûlée"; }, 10'000))
        << listed(*web);
    EXPECT_EQ(loads, beforeSearch);
    EXPECT_NE(web->url().toString().toStdString().find("q=creme"), std::string::npos);

    // Without the search again, then a tag of the list.
    evaluate(*web, QStringLiteral("location.href = location.href.replace(/&q=[^&]*/, ''); true;"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return listed(*web) == "Garden party|Crème brûlée|Garden tools"; }, 10'000));
    const int beforeTag = loads;
    evaluate(*web, QStringLiteral(
                       "document.querySelector('aside a[title=\"home/garden\"]').click(); true;"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return loads > beforeTag && listed(*web) == "Garden tools"; },
                                10'000))
        << listed(*web);

    // j moves to the first favourite, e opens its edit form; saved, the page shows the change.
    const int beforeEdit = loads;
    evaluate(*web, QStringLiteral(R"(
        for (const key of ['j', 'e'])
          document.body.dispatchEvent(new KeyboardEvent('keydown', {key, bubbles: true}));
        true;)"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return loads > beforeEdit &&
                   evaluate(*web, QStringLiteral("!!document.querySelector('form.edit')")).toBool();
        },
        10'000));
    const int beforeSave = loads;
    evaluate(*web, QStringLiteral(R"(
        const form = document.querySelector('form.edit');
        form.querySelector('[name=title]').value = 'Garden tools, sharpened';
        form.querySelector('[name=note]').value = 'Ask <b>Bob</b>';
        form.querySelector('button[type=submit]').click();
        true;)"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return loads > beforeSave && listed(*web) == "Garden tools, sharpened"; }, 10'000))
        << listed(*web);
    EXPECT_EQ(evaluate(*web, QStringLiteral("document.querySelector('li.fav .note').textContent"))
                  .toString()
                  .toStdString(),
              "Ask <b>Bob</b>");

    service.signal(SIGTERM);
    EXPECT_EQ(service.exitCode(), 0);
    const auto favourite = pellamark::service::openStore(store.location(), 1)->list(User).back();
    EXPECT_EQ(favourite.title, "Garden tools, sharpened");
    EXPECT_EQ(favourite.tags, std::vector<std::string>{"home/garden"});
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Both servers are on this machine.
    pellamark::testing::ScopedNoProxy noProxy;
    prepareWebEngineEnvironment();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
