#pragma once

#include <QMainWindow>
#include <QRect>
#include <QSize>
#include <QTimer>

namespace pellamark {

class HtmlView;

// The window state as the program records it.
enum WindowState : int { StateNormal = 0, StateMinimised = 1, StateMaximised = 2 };

// The main window as it appears on screen: caption, menu bar, the page view in the client area.
// It decides nothing: it reports what the window system does to it and carries out what it is
// told. The program's logic (app/frmMain) drives it, here or from another process.
//
// The window system tells of one change in pieces: a maximise arrives as the new state with the
// old size and, later, the new size (some 10 to 70 ms later under openbox, depending on how busy
// this process is). The window reports a change only once it is whole: after a change between
// normal and maximised it waits for the size to follow.
class MainWindowWidget : public QMainWindow {
    Q_OBJECT
public:
    // Client area at design time.
    static constexpr int DesignClientWidth = 780;
    static constexpr int DesignClientHeight = 580;
    static constexpr int ViewMargin = 10;
    // The longest wait for the size that follows a change between normal and maximised; it runs
    // out only where the two sizes are the same.
    static constexpr int SizeFollowsStateMs = 500;

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
    // Hides the window; a minimised window is no longer minimised when shown again.
    void hideUnminimised();

    // changed() is emitted once the window system has settled, even if nothing has changed.
    void reportWhenSettled();

Q_SIGNALS:
    // The window system's own close command (title bar, window menu, Alt+F4); the window stays.
    void closeCommand();
    // The state or the client size has changed and the window system has settled, or a report
    // was asked for.
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
    struct Picture {
        int state = StateNormal;
        QSize client;
        friend bool operator==(const Picture&, const Picture&) = default;
    };

    void windowSystemEvent();
    void reportIfSettled();
    void notePlace();

    HtmlView& m_view;
    // The frame's place and the window's size the last time it was shown in the normal state.
    QRect m_normalPlace;
    bool m_showMaximised = false;

    // The last picture reported, and the last state other than minimised in it.
    Picture m_reported;
    int m_reportedUnminimised = StateNormal;
    bool m_reportAsked = false;
    bool m_awaitingSize = false;
    QTimer m_settle;
    QTimer m_sizeFollows;
};

} // namespace pellamark
