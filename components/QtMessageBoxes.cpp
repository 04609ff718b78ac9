#include "components/QtMessageBoxes.h"

#include "components/ProgramIcon.h"

#include <QMessageBox>

namespace pellamark {

void QtMessageBoxes::MsgBox(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Pellamark"), text, QMessageBox::Ok);
    box.setWindowIcon(programIcon());
    box.exec();
}

} // namespace pellamark
