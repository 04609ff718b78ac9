#pragma once

#include "dialogs/DialogCommon.h"

class QLabel;
class QPushButton;

namespace pellamark {

struct GlobalSettings;

// Shows the program's icon, title, version and description.
class frmAbout : public ModelessDialog {
    Q_OBJECT
public:
    frmAbout(GlobalSettings& settings, DialogHost& host);

    // Fills in the texts and shows the dialog.
    void Form_Load();

    // OK, Enter and Esc: bring the main window back and close.
    void cmdOK_Click();

    void reject() override;

private:
    GlobalSettings& m_settings;

    QPushButton* cmdOK;
    QLabel* Image1;
    QLabel* lblDescription;
    QLabel* lblTitle;
    QLabel* lblVersion;
};

} // namespace pellamark
