#pragma once

#include "HtmlView.h"

#include <QUrl>
#include <QWidget>

class QStackedLayout;
class QWebEngineView;

namespace pellamark {

// HtmlView on the Chromium-based web engine. The engine is started only when the first real
// address arrives, so a start that never shows a page (sign-up, unreachable server) stays light.
class WebHtmlView : public QWidget, public HtmlView {
    Q_OBJECT
public:
    explicit WebHtmlView(QWidget* parent = nullptr);
    ~WebHtmlView() override;

    void PageAddress(const QString& address) override;
    void Width(double width) override;
    void Height(double height) override;
    QWidget* widget() override { return this; }

    // Whether the web engine has been started (tests).
    bool engineStarted() const { return m_engine != nullptr; }

private:
    void startEngine();

    QStackedLayout* m_layout = nullptr;
    QWidget* m_placeholder = nullptr;
    QWebEngineView* m_engine = nullptr;
};

// Whether a page may hand this address to the desktop's browser when it asks for a new window.
bool mayOpenExternally(const QUrl& url);

} // namespace pellamark
