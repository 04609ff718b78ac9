// The page view's engine module: everything that needs the web engine's libraries.
#include "components/WebPageEngine.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QNetworkInformation>
#include <QObject>
#include <QPointer>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace pellamark {

namespace {

// The desktop's light or dark preference, as the desktop portal publishes it (GNOME and KDE do).
const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString PortalSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString AppearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString ColorSchemeKey = QStringLiteral("color-scheme");
// The portal answers at once when it runs; the engine does not wait longer for it.
constexpr int PortalTimeoutMs = 500;

// color-scheme: 0 no preference, 1 prefer dark, 2 prefer light.
bool prefersDark(const QVariant& value) {
    QVariant inner = value;
    // Read (the portal's first version) wraps the value in one more variant than ReadOne.
    while (inner.canConvert<QDBusVariant>() && inner.userType() == qMetaTypeId<QDBusVariant>())
        inner = inner.value<QDBusVariant>().variant();
    return inner.toUInt() == 1;
}

bool desktopPrefersDark() {
    for (const QString& method : {QStringLiteral("ReadOne"), QStringLiteral("Read")}) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(PortalService, PortalPath, PortalSettings, method);
        call << AppearanceNamespace << ColorSchemeKey;
        const QDBusMessage answer =
            QDBusConnection::sessionBus().call(call, QDBus::Block, PortalTimeoutMs);
        if (answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty())
            return prefersDark(answer.arguments().first());
        if (answer.errorName() != QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
            return false; // no portal, or it does not know the setting: light, as without one
    }
    return false;
}

// The engine's switches, read when it starts; a switch the user set stays as set.
// - The preference given to the pages (their prefers-color-scheme).
// - Its log on the console: only what ends it. A page it cannot load (a refused certificate, a
//   name not found) is said on the view's own page; the engine would also write an error line for
//   every try.
void setEngineSwitches(bool dark) {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--blink-settings")) {
        flags += QByteArrayLiteral(" --blink-settings=preferredColorScheme=");
        flags += dark ? '0' : '1'; // Blink's own numbering: 0 dark, 1 light
    }
    if (!flags.contains("--log-level"))
        flags += QByteArrayLiteral(" --log-level=3");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
}

std::optional<PageFailure> failureOf(const QWebEngineLoadingInfo& info) {
    using Kind = PageFailure::Kind;
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus) {
        if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain &&
            info.errorCode() >= 500)
            return PageFailure{Kind::ServerError, info.errorCode()};
        return std::nullopt;
    }
    switch (info.errorDomain()) {
    case QWebEngineLoadingInfo::DnsErrorDomain:
        return PageFailure{Kind::NameNotFound, 0};
    case QWebEngineLoadingInfo::CertificateErrorDomain:
        return PageFailure{Kind::Certificate, 0};
    case QWebEngineLoadingInfo::HttpStatusCodeDomain:
        return PageFailure{info.errorCode() >= 500 ? Kind::ServerError : Kind::Unreachable,
                           info.errorCode()};
    default:
        break;
    }
    // The network library's own numbers: a connection that was there and broke off.
    switch (info.errorCode()) {
    case -100: // ERR_CONNECTION_CLOSED
    case -101: // ERR_CONNECTION_RESET
    case -103: // ERR_CONNECTION_ABORTED
    case -324: // ERR_EMPTY_RESPONSE
        return PageFailure{Kind::Broken, 0};
    case -105: // ERR_NAME_NOT_RESOLVED
    case -137: // ERR_NAME_RESOLUTION_FAILED
        return PageFailure{Kind::NameNotFound, 0};
    default:
        return PageFailure{Kind::Unreachable, 0};
    }
}

} // namespace

class WebEnginePlugin : public QObject, public WebPageEngine {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PellamarkWebPageEngine_iid)
    Q_INTERFACES(pellamark::WebPageEngine)

public:
    QWidget* createPage(QWidget* parent, WebPageObserver& observer) override {
        m_observer = &observer;
        if (!m_started) {
            m_started = true;
            m_dark = desktopPrefersDark();
            setEngineSwitches(m_dark);
            qRegisterMetaType<QDBusVariant>();
            QDBusConnection::sessionBus().connect(
                PortalService, PortalPath, PortalSettings, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QString, QString, QDBusVariant)));
            watchNetwork();
        }
        auto* view = new QWebEngineView(parent);
        QWebEnginePage* page = view->page();
        // A page that cannot be loaded is said on the view's own page, never the engine's.
        page->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
        // target=_blank and window.open go to the user's browser, never into this view.
        connect(page, &QWebEnginePage::newWindowRequested, view,
                [](QWebEngineNewWindowRequest& request) {
                    if (mayOpenExternally(request.requestedUrl()))
                        QDesktopServices::openUrl(request.requestedUrl());
                });
        // A certificate the system does not trust is refused, with no way to go on anyway.
        connect(page, &QWebEnginePage::certificateError, view,
                [](QWebEngineCertificateError error) { error.rejectCertificate(); });
        connect(page, &QWebEnginePage::loadingChanged, view,
                [this](const QWebEngineLoadingInfo& info) {
                    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus ||
                        info.url().scheme() == QLatin1String("data") || !m_observer)
                        return;
                    m_observer->pageLoaded(info.url(), failureOf(info));
                });
        return view;
    }

    void load(QWidget* page, const QUrl& address) override {
        if (auto* view = qobject_cast<QWebEngineView*>(page))
            view->setUrl(address);
    }

    void showOwnPage(QWidget* page, const QString& html) override {
        if (auto* view = qobject_cast<QWebEngineView*>(page))
            view->setHtml(html);
    }

    void reload(QWidget* page) override {
        if (auto* view = qobject_cast<QWebEngineView*>(page))
            view->reload();
    }

    void setZoom(QWidget* page, double factor) override {
        if (auto* view = qobject_cast<QWebEngineView*>(page))
            view->setZoomFactor(factor);
    }

private Q_SLOTS:
    void settingChanged(const QString& space, const QString& key, const QDBusVariant& value) {
        if (space != AppearanceNamespace || key != ColorSchemeKey)
            return;
        if (prefersDark(value.variant()) != m_dark && m_observer)
            m_observer->colorSchemeChanged();
    }

private:
    void watchNetwork() {
        if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
            return;
        connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
                [this](QNetworkInformation::Reachability reachability) {
                    if (reachability != QNetworkInformation::Reachability::Disconnected &&
                        m_observer)
                        m_observer->networkChanged();
                });
    }

    WebPageObserver* m_observer = nullptr;
    bool m_started = false;
    bool m_dark = false;
};

} // namespace pellamark

#include "WebEnginePlugin.moc"
