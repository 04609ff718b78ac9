#pragma once

#include "dialogs/DialogCommon.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pellamark {

struct GlobalSettings;
class Profile;

// The first-run window: asks for the e-mail address and creates the profile.
class frmUserInfo : public ModelessDialog {
    Q_OBJECT
public:
    frmUserInfo(GlobalSettings& settings, Profile& profile, DialogHost& host);

    // Shows the dialog with the focus in the address box.
    void Form_Load();

    void cmdOK_Click();     // SUBMIT
    void cmdTerms_Click();  // TERMS & CONDITIONS
    void cmdCancel_Click(); // CANCEL: ends the program

    // Esc presses CANCEL.
    void reject() override;

private:
    GlobalSettings& m_settings;
    Profile& m_profile;

    QLineEdit* txtEmailAddress;
    QLabel* lblLabels_2;
    QLabel* lblLabels_3;
    QPushButton* cmdOK;
    QPushButton* cmdTerms;
    QPushButton* cmdCancel;
};

} // namespace pellamark
