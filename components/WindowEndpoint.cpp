#include "components/WindowEndpoint.h"

#include "components/HtmlView.h"
#include "components/MainWindowWidget.h"

#include <cmath>

namespace pellamark {

namespace {
using Kind = WindowMessage::Kind;
}

WindowEndpoint::WindowEndpoint(MainWindowWidget& window, HtmlView& view, Send send, QObject* parent)
    : QObject(parent), m_window(window), m_view(view), m_send(std::move(send)) {
    connect(&m_window, &MainWindowWidget::changed, this, [this] {
        const QSize client = m_window.clientSize();
        m_send({Kind::State,
                {},
                {},
                {m_window.state(), client.width(), client.height(), m_lastCommand}});
    });
    // A window dragged about moves many times a turn of the event loop; one report will do.
    m_placeReport.setSingleShot(true);
    m_placeReport.setInterval(0);
    connect(&m_placeReport, &QTimer::timeout, this, [this] {
        if (m_window.isVisible())
            m_send({Kind::Placed, {}, m_window.placement(), {}});
    });
    connect(&m_window, &MainWindowWidget::placed, &m_placeReport, qOverload<>(&QTimer::start));
    connect(&m_window, &MainWindowWidget::closeCommand, this, [this] {
        m_send({Kind::Close, {}, {}, {}});
    });
    connect(&m_window, &MainWindowWidget::menuChosen, this, [this](const QString& item) {
        m_send({Kind::Menu, item, {}, {}});
    });
}

void WindowEndpoint::start() {
    m_send({Kind::Hello, {}, {}, {WindowChannelVersion}});
}

void WindowEndpoint::reportZoom(double factor) {
    m_send({Kind::Zoomed, {}, {}, {static_cast<int>(std::lround(factor * 100))}});
}

void WindowEndpoint::askRenew() {
    m_send({Kind::Renew, {}, {}, {}});
}

void WindowEndpoint::commanded(int number) {
    m_lastCommand = number;
    m_window.reportWhenSettled();
}

bool WindowEndpoint::carryOut(const WindowMessage& message) {
    switch (message.kind) {
    case Kind::Hello:
        return message.numbers[0] == WindowChannelVersion;
    case Kind::Show:
        m_window.showPlaced();
        commanded(message.numbers[0]);
        break;
    case Kind::Hide:
        m_window.hideUnminimised();
        commanded(message.numbers[0]);
        break;
    case Kind::Minimise:
        m_window.showMinimisedState();
        commanded(message.numbers[0]);
        break;
    case Kind::Restore:
        m_window.restoreNormalState();
        commanded(message.numbers[0]);
        break;
    case Kind::Focus:
        m_window.focus();
        break;
    case Kind::Prepare:
        m_view.prepare();
        break;
    case Kind::Page:
        m_view.PageAddress(message.text);
        break;
    case Kind::ViewSize:
        m_window.setViewSize(message.numbers[0], message.numbers[1]);
        break;
    case Kind::Placement:
        m_window.restorePlacement(message.data);
        break;
    case Kind::Zoom:
        m_view.setZoom(message.numbers[0] / 100.0);
        break;
    default:
        break; // reports are not for this side
    }
    return true;
}

} // namespace pellamark
