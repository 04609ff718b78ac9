#include "WebHtmlView.h"

#include <QDesktopServices>
#include <QStackedLayout>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <cmath>

namespace pellamark {

namespace {
const QString BlankPage = QStringLiteral("about:blank");

int toPixels(double value) {
    if (!(value > 0.0)) // also catches NaN
        return 0;
    return value >= 1e6 ? 1000000 : static_cast<int>(std::lround(value));
}
} // namespace

bool isBlankAddress(const QString& address) {
    return address.trimmed().isEmpty() ||
           address.trimmed().compare(BlankPage, Qt::CaseInsensitive) == 0;
}

bool mayOpenExternally(const QUrl& url) {
    // A page must not get local files or helper programs started through the desktop handler.
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                             scheme == QLatin1String("mailto"));
}

WebHtmlView::WebHtmlView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("HTML1"));
    m_layout = new QStackedLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_placeholder = new QWidget(this);
    m_placeholder->setObjectName(QStringLiteral("HTML1_placeholder"));
    m_placeholder->setAutoFillBackground(true);
    QPalette palette = m_placeholder->palette();
    palette.setColor(QPalette::Window, Qt::white);
    m_placeholder->setPalette(palette);
    m_layout->addWidget(m_placeholder);
}

WebHtmlView::~WebHtmlView() = default;

void WebHtmlView::startEngine() {
    m_engine = new QWebEngineView(this);
    m_engine->setObjectName(QStringLiteral("HTML1_engine"));
    // target=_blank and window.open go to the user's browser, never into this view.
    connect(m_engine->page(), &QWebEnginePage::newWindowRequested, this,
            [](QWebEngineNewWindowRequest& request) {
                if (mayOpenExternally(request.requestedUrl()))
                    QDesktopServices::openUrl(request.requestedUrl());
            });
    m_layout->addWidget(m_engine);
    m_layout->setCurrentWidget(m_engine);
}

void WebHtmlView::PageAddress(const QString& address) {
    if (isBlankAddress(address)) {
        if (m_engine)
            m_engine->setUrl(QUrl(BlankPage));
        return;
    }
    if (!m_engine)
        startEngine();
    m_engine->setUrl(QUrl(address));
}

void WebHtmlView::Width(double width) {
    resize(toPixels(width), height());
}

void WebHtmlView::Height(double height) {
    resize(width(), toPixels(height));
}

} // namespace pellamark
