#pragma once

#include "dialogs/DialogHost.h"

#include <QDialog>
#include <QFont>
#include <QString>

#include <exception>
#include <functional>

class QCloseEvent;

namespace pellamark {

struct GlobalSettings;

// Design sizes are in twips; at 96 dots per inch 15 twips make one logical pixel.
int twipsToPixels(int twips);
void placeTwips(QWidget& widget, int left, int top, int width, int height);

QFont designFont(const QString& family, qreal pointSize, bool bold);

// The design fonts are often substituted by wider ones on Linux desktops; shrink the font of any
// label or button whose text would be cut off at its design size until the text fits again.
void fitTextsToControls(QWidget& window);

// Whether the control shows all of its text at its current size.
bool textFits(const QWidget& control);

// The text in characters as the user sees them (grapheme clusters), so that an accent typed as
// a combining mark or a character outside the basic plane counts once.
qsizetype visibleLength(const QString& text);

// Shows the dialogs' error report for the failure and ends the program.
void reportFailureAndEnd(DialogHost& host, std::exception_ptr failure);

// Runs a handler; any failure is reported and ends the program, as an untrapped run-time error
// would. Returns false when the handler failed.
bool runReported(DialogHost& host, const std::function<void()>& handler);

// Runs the profile routine that writes; when the store refuses a write, tells the user why and
// returns false, and the dialog stays open with what was typed. Other failures pass on.
bool saveProfile(DialogHost& host, const std::function<void()>& write);

// Points the view at the favourites page again and brings the main window back, restoring it
// when it was left minimised, then gives the two locked tray items back.
void bringMainBack(const GlobalSettings& settings, DialogHost& host);

// A fixed-size, ownerless, modeless window that deletes itself when closed. The user's own close
// command (close box, window menu, Alt+F4) reaches it as a spontaneous close event and offers the
// tray's Restore item; closes issued by the program arrive as ordinary events and pass untouched.
class ModelessDialog : public QDialog {
    Q_OBJECT
public:
    ModelessDialog(DialogHost& host, int clientWidthTwips, int clientHeightTwips);

protected:
    DialogHost& host() const { return m_host; }
    // Shows the dialog, modeless and centred, and takes the focus.
    void showAndActivate();

    void closeEvent(QCloseEvent* event) override;

private:
    DialogHost& m_host;
    bool m_placed = false;
};

} // namespace pellamark
