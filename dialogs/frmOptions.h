#pragma once

#include "dialogs/DialogCommon.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pellamark {

struct GlobalSettings;
class Profile;

// Changes the stored e-mail address and the start-with-the-desktop choice.
class frmOptions : public ModelessDialog {
    Q_OBJECT
public:
    // `loader` serves the profile routines should they ask for the sign-up dialog.
    frmOptions(GlobalSettings& settings, Profile& profile, DialogHost& host, DialogLoader& loader);

    // Shows the dialog filled from the profile as last read.
    void Form_Load();

    void cmdChange_Click(); // CHANGE: store, bring the main window back, close
    void cmdCancel_Click(); // CANCEL: bring the main window back, close

    // Esc presses nothing here.
    void reject() override {}

private:
    GlobalSettings& m_settings;
    Profile& m_profile;
    DialogLoader& m_loader;

    QLineEdit* txtChangeEmailAddress;
    QPushButton* cmdChange;
    QLabel* Label1;
    QPushButton* cmdCancel;
    QCheckBox* chkStartUp;
};

} // namespace pellamark
