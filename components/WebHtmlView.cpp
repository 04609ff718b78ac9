#include "components/WebHtmlView.h"

#include "components/QtText.h"
#include "settings/Messages.h"
#include "settings/ProgramFiles.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPluginLoader>
#include <QStackedLayout>

#include <cmath>

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
    if (isBlankAddress(address)) {
        if (m_page)
            m_engine->load(m_page, QUrl(BlankPage));
        return;
    }
    if (startEngine())
        m_engine->load(m_page, QUrl(address));
}

void WebHtmlView::Width(double width) {
    resize(toPixels(width), height());
}

void WebHtmlView::Height(double height) {
    resize(width(), toPixels(height));
}

} // namespace pellamark
