#pragma once

#include <QString>
#include <QUrl>
#include <QtPlugin>

#include <optional>

class QWidget;

namespace pellamark {

// Why a page could not be shown.
struct PageFailure {
    enum class Kind {
        Unreachable,  // no answer: refused, timed out, no route, no network
        Broken,       // the connection broke off before the page came
        NameNotFound, // the host's name could not be looked up
        Certificate,  // the https certificate was refused: the connection is not safe
        ServerError,  // the server answered with an error of its own (5xx)
    };
    Kind kind = Kind::Unreachable;
    int status = 0; // the HTTP status, for ServerError
    friend bool operator==(const PageFailure&, const PageFailure&) = default;
};

// What the engine tells the view about a page it made.
class WebPageObserver {
public:
    virtual ~WebPageObserver() = default;
    // A load of `address` has ended: shown, or failed (the engine's own error page is never shown).
    virtual void pageLoaded(const QUrl& address, const std::optional<PageFailure>& failure) = 0;
    // The system's network has come back or changed: a failed page is worth trying again.
    virtual void networkChanged() = 0;
    // The desktop's light or dark preference changed; the engine takes it only when it starts,
    // so it must be started anew to follow.
    virtual void colorSchemeChanged() = 0;
};

// The browser engine behind the page view. It lives in a module of its own that is loaded when the
// first real page is shown, so a start that never shows one (sign-up, unreachable service, a
// second copy) neither maps nor relocates the engine's large libraries.
class WebPageEngine {
public:
    virtual ~WebPageEngine() = default;
    // A page widget owned by `parent`, which reports to `observer`. The engine starts with the
    // first page, following the desktop's light or dark preference as it is then.
    virtual QWidget* createPage(QWidget* parent, WebPageObserver& observer) = 0;
    // Loads the address into a page made by createPage().
    virtual void load(QWidget* page, const QUrl& address) = 0;
    // Shows the view's own page (HTML of the program's), which is not reported as a load.
    virtual void showOwnPage(QWidget* page, const QString& html) = 0;
    virtual void reload(QWidget* page) = 0;
    virtual void setZoom(QWidget* page, double factor) = 0;
};

// Whether a page may hand this address to the desktop's browser when it asks for a new window.
// A page must not get local files or helper programs started through the desktop's handler.
inline bool mayOpenExternally(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                             scheme == QLatin1String("mailto"));
}

} // namespace pellamark

#define PellamarkWebPageEngine_iid "org.pellamark.WebPageEngine/2"
Q_DECLARE_INTERFACE(pellamark::WebPageEngine, PellamarkWebPageEngine_iid)
