#pragma once

#include "components/HtmlView.h"
#include "components/PageRetry.h"
#include "components/WebPageEngine.h"

#include <QTimer>
#include <QUrl>
#include <QWidget>

class QLabel;
class QStackedLayout;

namespace pellamark {

// HtmlView on the Chromium-based web engine. The engine module is loaded and started only when
// the first real address arrives, so a start that never shows a page (sign-up, unreachable
// server) stays light; or ahead of it, by prepare(). Given an address before the engine is up,
// the view first lets the window be painted (an empty view), and only then starts the engine,
// which holds this thread for a while, and loads the page.
//
// A page that cannot be shown (no answer, a broken connection, a name not found, a refused
// certificate, a server error) is said on the view's own page, in the program's words, with a way
// to try again; while the view is on screen it is tried again by itself (PageRetry). F5 and Ctrl+R
// reload; Ctrl+plus, Ctrl+minus, Ctrl+0 and Ctrl+wheel zoom.
class WebHtmlView : public QWidget, public HtmlView, private WebPageObserver {
    Q_OBJECT
public:
    // `enginePath` is the engine module's file; by default the one that ships with the program.
    explicit WebHtmlView(QString enginePath = defaultEnginePath(), QWidget* parent = nullptr);
    ~WebHtmlView() override;

    void PageAddress(const QString& address) override;
    void Width(double width) override;
    void Height(double height) override;
    QWidget* widget() override { return this; }
    void prepare() override { startEngine(); }
    void setZoom(double factor) override;

    // The zoom steps, as a browser has them.
    static double zoomedIn(double factor);
    static double zoomedOut(double factor);

    // Whether the web engine has been started (tests).
    bool engineStarted() const { return m_page != nullptr; }

    static QString defaultEnginePath();

    // Loads and starts the engine ahead of the first page; false when it could not be.
    bool startEngine();

    // F5, Ctrl+R: the page again (a page that failed: tried again now).
    void reload();

Q_SIGNALS:
    // The user zoomed the page (to be kept for the run).
    void zoomChanged(double factor);
    // The engine must be started anew (the desktop's light or dark preference changed).
    void renewWanted();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void startWhenPainted();
    void startAndLoad();
    void load(const QUrl& address);
    void zoomTo(double factor);

    // WebPageObserver
    void pageLoaded(const QUrl& address, const std::optional<PageFailure>& failure) override;
    void networkChanged() override;
    void colorSchemeChanged() override;

    // The page the program asked for, and the one a retry loads.
    QUrl m_address;
    QUrl m_retryAddress;
    PageRetry m_retry;
    double m_zoom = 1.0;

    QString m_enginePath;
    // The address to load once the engine is up.
    QString m_pending;
    bool m_waitingForPaint = false;
    QTimer* m_paintWait = nullptr;
    QStackedLayout* m_layout = nullptr;
    QLabel* m_placeholder = nullptr;
    WebPageEngine* m_engine = nullptr;
    QWidget* m_page = nullptr;
};

} // namespace pellamark
