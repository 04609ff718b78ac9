#include "components/OwnPage.h"

#include "base/Messages.h"
#include "components/QtText.h"

namespace pellamark {

namespace {

QString sentence(const PageFailure& failure) {
    using Kind = PageFailure::Kind;
    switch (failure.kind) {
    case Kind::Broken:
        return qtText(BrokenPageText);
    case Kind::NameNotFound:
        return qtText(NameNotFoundPageText);
    case Kind::Certificate:
        return qtText(UnsafePageText);
    case Kind::ServerError:
        return qtText(serverErrorPageText(failure.status));
    case Kind::Unreachable:
        break;
    }
    return qtText(UnreachablePageText);
}

// The program's green (its icon's), on a page that follows the desktop's light or dark choice.
const char* const Style = R"(
:root { color-scheme: light dark; --ink: #1d2a1a; --paper: #ffffff; --mark: #3c7a2e; }
@media (prefers-color-scheme: dark) { :root { --ink: #e4ebe1; --paper: #1b1f1a; --mark: #7fc26b; } }
html, body { margin: 0; height: 100%; background: var(--paper); color: var(--ink); }
body { display: flex; align-items: center; justify-content: center;
       font: 15px/1.5 Verdana, "DejaVu Sans", sans-serif; }
main { max-width: 32em; padding: 2em; text-align: center; }
h1 { font-size: 18px; color: var(--mark); margin: 0 0 .5em; }
p { margin: 0 0 1.2em; }
a.retry { display: inline-block; padding: .45em 1.4em; border-radius: 4px; text-decoration: none;
          background: var(--mark); color: var(--paper); font-weight: bold; }
small { display: block; margin-top: 1.2em; opacity: .7; }
)";

} // namespace

QString ownPageHtml(const PageFailure& failure, const QUrl& address) {
    const QString text = sentence(failure).toHtmlEscaped();
    const QString target = QString::fromUtf8(address.toEncoded()).toHtmlEscaped();
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                          "<style>%2</style></head><body><main><h1>%3</h1><p>%1</p>"
                          "<a class=\"retry\" id=\"retry\" href=\"%4\">%5</a><small>%6</small>"
                          "</main></body></html>")
        .arg(text, QString::fromLatin1(Style), qtText(ProgramTitle).toHtmlEscaped(), target,
             qtText(TryAgainLabel).toHtmlEscaped(), qtText(RetryingPageText).toHtmlEscaped());
}

} // namespace pellamark
