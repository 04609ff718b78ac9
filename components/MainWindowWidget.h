#pragma once

#include <QMainWindow>
#include <QRect>
#include <QSize>

namespace pellamark {

class HtmlView;

// The window state as the program records it.
enum WindowState : int { StateNormal = 0, StateMinimised = 1, StateMaximised = 2 };

// The main window as it appears on screen: caption, menu bar, the page view in the client area.
// It decides nothing: it reports what the window system does to it and carries out what it is
// told. The program's logic (app/frmMain) drives it, here or from another process.
class MainWindowWidget : public QMainWindow {
    Q_OBJECT
public:
    // Client area at design time.
    static constexpr int DesignClientWidth = 780;
    static constexpr int DesignClientHeight = 580;
    static constexpr int ViewMargin = 10;

    // The view's widget becomes a child of the window.
    explicit MainWindowWidget(HtmlView& view, QWidget* parent = nullptr);

    int state() const;
    QSize clientSize() const;
    // The view's outer size; its place stays at the margin.
    void setViewSize(int width, int height);
    void showMinimisedState();
    void restoreNormalState();
    void focus();

    // Where the window is and how large, normal or maximised, to be given to a window made
    // later (in another process, too): restorePlacement() before that one is first shown.
    QByteArray placement() const;
    void restorePlacement(const QByteArray& placement);
    // show() in the placement given.
    void showPlaced();

Q_SIGNALS:
    // The window system's own close command (title bar, window menu, Alt+F4); the window stays.
    void closeCommand();
    // The state, the client size or the visibility may have changed.
    void changed();
    // Moved or resized: its place is worth keeping.
    void placed();
    // A menu bar item was chosen, by its object name.
    void menuChosen(const QString& item);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void notePlace();

    HtmlView& m_view;
    // The frame's place and the window's size the last time it was shown in the normal state.
    QRect m_normalPlace;
    bool m_showMaximised = false;
};

} // namespace pellamark
