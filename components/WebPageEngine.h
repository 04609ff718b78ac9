#pragma once

#include <QString>
#include <QUrl>
#include <QtPlugin>

class QWidget;

namespace pellamark {

// The browser engine behind the page view. It lives in a module of its own that is loaded when the
// first real page is shown, so a start that never shows one (sign-up, unreachable service, a
// second copy) neither maps nor relocates the engine's large libraries.
class WebPageEngine {
public:
    virtual ~WebPageEngine() = default;
    // A page widget owned by `parent`.
    virtual QWidget* createPage(QWidget* parent) = 0;
    // Loads the address into a page made by createPage().
    virtual void load(QWidget* page, const QUrl& address) = 0;
};

// Whether a page may hand this address to the desktop's browser when it asks for a new window.
// A page must not get local files or helper programs started through the desktop's handler.
inline bool mayOpenExternally(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                             scheme == QLatin1String("mailto"));
}

} // namespace pellamark

#define PellamarkWebPageEngine_iid "org.pellamark.WebPageEngine/1"
Q_DECLARE_INTERFACE(pellamark::WebPageEngine, PellamarkWebPageEngine_iid)
