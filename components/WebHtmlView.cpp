#include "components/WebHtmlView.h"

#include "base/Messages.h"
#include "components/OwnPage.h"
#include "components/QtText.h"
#include "system/ProgramFiles.h"

#include <QApplication>
#include <QKeySequence>
#include <QLabel>
#include <QPluginLoader>
#include <QShortcut>
#include <QStackedLayout>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace pellamark {

namespace {
#ifdef Q_OS_WIN
const QString ModuleSuffix = QStringLiteral(".dll");
#else
const QString ModuleSuffix = QStringLiteral(".so");
#endif

// As browsers step their zoom.
constexpr std::array ZoomSteps = {0.25, 0.33, 0.5,  0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                                  1.25, 1.5,  1.75, 2.0,  2.5,  3.0, 4.0, 5.0};

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

    connect(&m_retry, &PageRetry::retry, this, [this] { load(m_retryAddress); });
    // The keys work wherever the focus is in the window, the page included.
    auto addShortcut = [this](const QKeySequence& keys, auto action) {
        auto* shortcut = new QShortcut(keys, this, action);
        shortcut->setContext(Qt::WindowShortcut);
    };
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)})
        addShortcut(keys, [this] { reload(); });
    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal),
          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus)})
        addShortcut(keys, [this] { zoomTo(zoomedIn(m_zoom)); });
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus), [this] { zoomTo(zoomedOut(m_zoom)); });
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_0), [this] { zoomTo(1.0); });
    // Ctrl+wheel over the page: the page's widgets are the engine's, so their events are looked
    // at on their way.
    qApp->installEventFilter(this);
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
    m_page = m_engine->createPage(this, *this);
    m_page->setObjectName(QStringLiteral("HTML1_engine"));
    if (m_zoom != 1.0)
        m_engine->setZoom(m_page, m_zoom);
    m_layout->addWidget(m_page);
    m_layout->setCurrentWidget(m_page);
    return true;
}

void WebHtmlView::PageAddress(const QString& address) {
    const bool blank = isBlankAddress(address);
    m_address = blank ? QUrl() : QUrl(address);
    m_retryAddress = m_address;
    m_retry.stop();
    if (m_page) {
        m_engine->load(m_page, blank ? QUrl(BlankPage) : m_address);
        return;
    }
    m_pending = blank ? QString() : address;
    if (!m_pending.isEmpty() && isVisible())
        startWhenPainted();
}

void WebHtmlView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_retry.setOnScreen(true);
    if (!m_page && !m_pending.isEmpty())
        startWhenPainted();
}

void WebHtmlView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_retry.setOnScreen(false);
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
    if (event->type() == QEvent::Wheel && m_page) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if ((wheel->modifiers() & Qt::ControlModifier) && widget && m_page->isAncestorOf(widget)) {
            if (wheel->angleDelta().y() != 0)
                zoomTo(wheel->angleDelta().y() > 0 ? zoomedIn(m_zoom) : zoomedOut(m_zoom));
            return true;
        }
    }
    return false;
}

void WebHtmlView::load(const QUrl& address) {
    if (m_page && !address.isEmpty())
        m_engine->load(m_page, address);
}

void WebHtmlView::reload() {
    if (!m_page || m_address.isEmpty())
        return;
    if (m_retry.pending())
        load(m_retryAddress);
    else
        m_engine->reload(m_page);
}

double WebHtmlView::zoomedIn(double factor) {
    for (double step : ZoomSteps)
        if (step > factor + 1e-6)
            return step;
    return ZoomSteps.back();
}

double WebHtmlView::zoomedOut(double factor) {
    for (auto step = ZoomSteps.rbegin(); step != ZoomSteps.rend(); ++step)
        if (*step < factor - 1e-6)
            return *step;
    return ZoomSteps.front();
}

void WebHtmlView::setZoom(double factor) {
    m_zoom = std::clamp(factor, ZoomSteps.front(), ZoomSteps.back());
    if (m_page)
        m_engine->setZoom(m_page, m_zoom);
}

void WebHtmlView::zoomTo(double factor) {
    if (factor == m_zoom)
        return;
    setZoom(factor);
    Q_EMIT zoomChanged(m_zoom);
}

void WebHtmlView::pageLoaded(const QUrl& address, const std::optional<PageFailure>& failure) {
    // Only what the program asked for, and where the user went from there, counts: a blank page
    // is no page to try again.
    if (m_address.isEmpty() || address.scheme() == QLatin1String("about"))
        return;
    if (!failure) {
        m_retry.stop();
        return;
    }
    // Tried again where the user was, on the service's own site; elsewhere, the page asked for.
    m_retryAddress =
        address.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment) ==
                m_address.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
            ? address
            : m_address;
    m_engine->showOwnPage(m_page, ownPageHtml(*failure, m_retryAddress));
    m_retry.failed();
}

void WebHtmlView::networkChanged() {
    m_retry.networkChanged();
}

void WebHtmlView::colorSchemeChanged() {
    Q_EMIT renewWanted();
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
