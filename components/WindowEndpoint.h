#pragma once

#include "components/WindowChannel.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace pellamark {

class HtmlView;
class MainWindowWidget;

// The window's end of the channel to the program: carries out the program's commands on the
// window and its page view, and reports what the window system does to the window. Each state
// report carries the number of the last command carried out, and one follows every command that
// changes the window, so the program can tell a picture taken before its latest command from
// one taken after.
class WindowEndpoint : public QObject {
    Q_OBJECT
public:
    using Send = std::function<void(const WindowMessage&)>;

    WindowEndpoint(MainWindowWidget& window, HtmlView& view, Send send, QObject* parent = nullptr);

    // Says hello; the program answers with its commands.
    void start();
    // Carries out a command; false for a program that speaks another version of the channel.
    bool carryOut(const WindowMessage& message);

    // What the page view asks of the program: the zoom the user set, to keep for the run; a new
    // window (the view must start afresh).
    void reportZoom(double factor);
    void askRenew();

private:
    void commanded(int number);

    MainWindowWidget& m_window;
    HtmlView& m_view;
    Send m_send;
    int m_lastCommand = 0;
    QTimer m_placeReport;
};

} // namespace pellamark
