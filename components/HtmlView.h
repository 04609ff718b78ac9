#pragma once

#include <QString>

class QWidget;

namespace pellamark {

// The address that shows an empty page.
inline constexpr QLatin1String BlankPage("about:blank");

// The main window's page view (HTML1). The window only tells it which page to show and how large
// to be; it reads nothing back.
class HtmlView {
public:
    virtual ~HtmlView() = default;

    // Loads the address in place of the previous page; BlankPage and the empty text show an
    // empty page.
    virtual void PageAddress(const QString& address) = 0;
    // Outer size in the main window's pixels; the position stays where the window put it.
    virtual void Width(double width) = 0;
    virtual void Height(double height) = 0;

    // The widget the window places in its client area.
    virtual QWidget* widget() = 0;

    // Pages will soon be shown: get ready for them (the window is not on screen yet).
    virtual void prepare() {}
    // The pages' zoom (1 is none), as the user last set it.
    virtual void setZoom(double) {}
};

// True for the addresses that mean "show nothing".
bool isBlankAddress(const QString& address);

} // namespace pellamark
