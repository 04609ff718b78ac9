#pragma once

#include "components/HtmlView.h"
#include "components/WebPageEngine.h"

#include <QUrl>
#include <QWidget>

class QLabel;
class QStackedLayout;

namespace pellamark {

// HtmlView on the Chromium-based web engine. The engine module is loaded and started only when
// the first real address arrives, so a start that never shows a page (sign-up, unreachable
// server) stays light.
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

    // Whether the web engine has been started (tests).
    bool engineStarted() const { return m_page != nullptr; }

    static QString defaultEnginePath();

    // Loads and starts the engine ahead of the first page; false when it could not be.
    bool startEngine();

private:
    QString m_enginePath;
    QStackedLayout* m_layout = nullptr;
    QLabel* m_placeholder = nullptr;
    WebPageEngine* m_engine = nullptr;
    QWidget* m_page = nullptr;
};

} // namespace pellamark
