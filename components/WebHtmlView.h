#pragma once

#include "components/HtmlView.h"
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
class WebHtmlView : public QWidget, public HtmlView {
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

    // Whether the web engine has been started (tests).
    bool engineStarted() const { return m_page != nullptr; }

    static QString defaultEnginePath();

    // Loads and starts the engine ahead of the first page; false when it could not be.
    bool startEngine();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void startWhenPainted();
    void startAndLoad();

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
