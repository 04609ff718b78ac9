#include "components/QtMessageBoxes.h"

#include "base/Messages.h"
#include "components/ProgramIcon.h"
#include "components/QtText.h"

#include <QMessageBox>

namespace pellamark {

void QtMessageBoxes::MsgBox(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, qtText(ProgramTitle), text, QMessageBox::Ok);
    box.setWindowIcon(programIcon());
    box.exec();
}

} // namespace pellamark
