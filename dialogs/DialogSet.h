#pragma once

#include "dialogs/DialogHost.h"

#include <QPointer>

namespace pellamark {

struct GlobalSettings;
class Profile;
class frmUserInfo;
class frmOptions;
class frmAbout;

// The program's three dialogs, loaded on demand; loading one that is open does nothing.
class DialogSet : public DialogLoader {
public:
    DialogSet(GlobalSettings& settings, Profile& profile, DialogHost& host);
    ~DialogSet() override;
    DialogSet(const DialogSet&) = delete;
    DialogSet& operator=(const DialogSet&) = delete;

    void loadSignUp() override;
    void loadOptions() override;
    void loadAbout() override;

    // The dialog while it is open, else null.
    frmUserInfo* signUpDialog() const;
    frmOptions* optionsDialog() const;
    frmAbout* aboutDialog() const;

private:
    GlobalSettings& m_settings;
    Profile& m_profile;
    DialogHost& m_host;
    QPointer<frmUserInfo> m_signUp;
    QPointer<frmOptions> m_options;
    QPointer<frmAbout> m_about;
};

} // namespace pellamark
