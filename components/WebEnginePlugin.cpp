// The page view's engine module: everything that needs the web engine's libraries.
#include "components/WebPageEngine.h"

#include <QDesktopServices>
#include <QObject>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace pellamark {

class WebEnginePlugin : public QObject, public WebPageEngine {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PellamarkWebPageEngine_iid)
    Q_INTERFACES(pellamark::WebPageEngine)

public:
    QWidget* createPage(QWidget* parent) override {
        auto* view = new QWebEngineView(parent);
        // target=_blank and window.open go to the user's browser, never into this view.
        QObject::connect(view->page(), &QWebEnginePage::newWindowRequested, view,
                         [](QWebEngineNewWindowRequest& request) {
                             if (mayOpenExternally(request.requestedUrl()))
                                 QDesktopServices::openUrl(request.requestedUrl());
                         });
        return view;
    }

    void load(QWidget* page, const QUrl& address) override {
        if (auto* view = qobject_cast<QWebEngineView*>(page))
            view->setUrl(address);
    }
};

} // namespace pellamark

#include "WebEnginePlugin.moc"
