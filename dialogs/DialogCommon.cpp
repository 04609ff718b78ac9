#include "dialogs/DialogCommon.h"

#include "base/Messages.h"
#include "base/RunTimeError.h"
#include "components/MessageBoxes.h"
#include "components/QtText.h"
#include "components/WindowSystem.h"
#include "settings/GlobalSettings.h"
#include "settings/Profile.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTextBoundaryFinder>

#include <cmath>

namespace pellamark {

int twipsToPixels(int twips) {
    return static_cast<int>(std::lround(twips / 15.0));
}

void placeTwips(QWidget& widget, int left, int top, int width, int height) {
    widget.setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                       twipsToPixels(height));
}

QFont designFont(const QString& family, qreal pointSize, bool bold) {
    QFont font(family);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

bool textFits(const QWidget& control) {
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        if (label->text().isEmpty() || label->textFormat() == Qt::RichText) {
            return true;
        }
        if (label->wordWrap()) {
            return label->heightForWidth(label->width()) <= label->height();
        }
        return label->sizeHint().width() <= label->width();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) {
        // Push buttons keep a generous margin in their size hint; the text itself must fit.
        const QFontMetrics metrics(button->font());
        const int text = metrics.horizontalAdvance(
            button->text().replace(QStringLiteral("&&"), QStringLiteral("&")));
        const int indicator = qobject_cast<const QPushButton*>(button) ? 8 : 22;
        return text + indicator <= button->width();
    }
    return true;
}

void fitTextsToControls(QWidget& window) {
    constexpr qreal smallest = 6.0;
    const auto controls = window.findChildren<QWidget*>();
    for (QWidget* control : controls) {
        QFont font = control->font();
        while (!textFits(*control) && font.pointSizeF() - 0.5 >= smallest) {
            font.setPointSizeF(font.pointSizeF() - 0.5);
            control->setFont(font);
        }
    }
}

qsizetype visibleLength(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1) {
        ++count;
    }
    return count;
}

void reportFailureAndEnd(DialogHost& host, std::exception_ptr failure) {
    const RunTimeError error = describeException(failure);
    try {
        host.messageBoxes().MsgBox(qtText(dialogErrorReport(error.number(), error.description())));
    } catch (...) {
        // The report could not be shown; the program still has to end.
    }
    host.unloadMain();
}

bool runReported(DialogHost& host, const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (...) {
        reportFailureAndEnd(host, std::current_exception());
        return false;
    }
}

bool saveProfile(DialogHost& host, const std::function<void()>& write) {
    try {
        write();
        return true;
    } catch (const ProfileNotSaved& notSaved) {
        host.messageBoxes().MsgBox(qtText(profileNotSavedMessage(notSaved.what())));
        return false;
    }
}

void bringMainBack(const GlobalSettings& settings, DialogHost& host) {
    host.PageAddress(QString::fromStdString(settings.FavoritesUrl));
    if (host.isMainMinimised()) {
        // The command that opened the dialog left a minimised window where it was.
        host.restoreMainToNormal();
    } else {
        host.showMain();
        host.focusMain();
    }
    host.setTrayOptionsEnabled(true);
    host.setTrayRestoreEnabled(true);
}

ModelessDialog::ModelessDialog(DialogHost& host, int clientWidthTwips, int clientHeightTwips)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      m_host(host) {
    setAttribute(Qt::WA_DeleteOnClose);
    // The program lives on in the tray after its last visible window closes.
    setAttribute(Qt::WA_QuitOnClose, false);
    setModal(false);
    setFixedSize(twipsToPixels(clientWidthTwips), twipsToPixels(clientHeightTwips));
}

void ModelessDialog::showAndActivate() {
    if (!m_placed) {
        m_placed = true;
        fitTextsToControls(*this);
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen && windowSystemLetsProgramsPlaceWindows()) {
            const QRect area = screen->availableGeometry();
            move(area.x() + (area.width() - width()) / 2,
                 area.y() + (area.height() - height()) / 2);
        }
    }
    show();
    raise();
    activateWindow();
}

void ModelessDialog::closeEvent(QCloseEvent* event) {
    // QDialog would turn the close into reject(), which here is Esc's button; a close is a close.
    if (event->spontaneous()) {
        runReported(m_host, [this] {
            m_host.setTrayRestoreVisible(true);
            m_host.setTrayRestoreEnabled(true);
        });
    }
    event->accept();
}

} // namespace pellamark
