#include "components/WebHtmlView.h"

#include "base/Messages.h"
#include "components/QtText.h"
#include "system/ProgramFiles.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPluginLoader>
#include <QStackedLayout>

#include <cmath>
#include <utility>

namespace pellamark {

namespace {
#ifdef Q_OS_WIN
const QString ModuleSuffix = QStringLiteral(".dll");
#else
const QString ModuleSuffix = QStringLiteral(".so");
#endif

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

QString WebHtmlView::defaultEnginePath() {
    const QString file = QStringLiteral("pellamark-webengine") + ModuleSuffix;
    return QString::fromStdString(
        findProgramFile(QCoreApplication::applicationDirPath().toStdString(), ProgramFile::Module,
                        file.toStdString())
            .string());
}

WebHtmlView::WebHtmlView(QString enginePath, QWidget* parent)
    : QWidget(parent), m_enginePath(std::move(enginePath)) {
    setObjectName(QStringLiteral("HTML1"));
    m_layout = new QStackedLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_placeholder = new QLabel(this);
    m_placeholder->setAlignment(Qt::AlignCenter);
    m_placeholder->setWordWrap(true);
    m_placeholder->setObjectName(QStringLiteral("HTML1_placeholder"));
    m_placeholder->setAutoFillBackground(true);
    QPalette palette = m_placeholder->palette();
    palette.setColor(QPalette::Window, Qt::white);
    m_placeholder->setPalette(palette);
    m_layout->addWidget(m_placeholder);
    m_placeholder->installEventFilter(this);
    // A window the window system never lets paint (fully covered, say) still gets its page.
    m_paintWait = new QTimer(this);
    m_paintWait->setSingleShot(true);
    m_paintWait->setInterval(500);
    connect(m_paintWait, &QTimer::timeout, this, &WebHtmlView::startAndLoad);
}

WebHtmlView::~WebHtmlView() = default;

bool WebHtmlView::startEngine() {
    if (m_page)
        return true;
    // The loader stays loaded for the rest of the run; the module is never unloaded.
    QPluginLoader loader(m_enginePath);
    m_engine = qobject_cast<WebPageEngine*>(loader.instance());
    if (!m_engine) {
        m_placeholder->setText(
            qtText(pageViewUnavailableMessage(loader.errorString().toStdString())));
        return false;
    }
    m_page = m_engine->createPage(this);
    m_page->setObjectName(QStringLiteral("HTML1_engine"));
    m_layout->addWidget(m_page);
    m_layout->setCurrentWidget(m_page);
    return true;
}

void WebHtmlView::PageAddress(const QString& address) {
    const bool blank = isBlankAddress(address);
    if (m_page) {
        m_engine->load(m_page, QUrl(blank ? QString(BlankPage) : address));
        return;
    }
    m_pending = blank ? QString() : address;
    if (!m_pending.isEmpty() && isVisible())
        startWhenPainted();
}

void WebHtmlView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_page && !m_pending.isEmpty())
        startWhenPainted();
}

void WebHtmlView::startWhenPainted() {
    if (m_waitingForPaint)
        return;
    m_waitingForPaint = true;
    m_placeholder->update();
    m_paintWait->start();
}

bool WebHtmlView::eventFilter(QObject* watched, QEvent* event) {
    // Once the empty view has been painted, the rest of this turn of the event loop puts it on
    // screen; the engine starts after that.
    if (watched == m_placeholder && event->type() == QEvent::Paint && m_waitingForPaint)
        QTimer::singleShot(0, this, &WebHtmlView::startAndLoad);
    return false;
}

void WebHtmlView::startAndLoad() {
    if (!m_waitingForPaint)
        return;
    m_waitingForPaint = false;
    m_paintWait->stop();
    const QString address = std::exchange(m_pending, QString());
    if (!address.isEmpty() && startEngine())
        m_engine->load(m_page, QUrl(address));
}

void WebHtmlView::Width(double width) {
    resize(toPixels(width), height());
}

void WebHtmlView::Height(double height) {
    resize(width(), toPixels(height));
}

} // namespace pellamark
