#pragma once

#include "DialogHost.h"

namespace pellamark {

struct GlobalSettings;
class Profile;

// The program's three dialogs, loaded on demand; loading one that is open does nothing.
class DialogSet : public DialogLoader {
public:
    DialogSet(GlobalSettings& settings, Profile& profile, DialogHost& host);
    ~DialogSet() override;

    void loadSignUp() override;
    void loadOptions() override;
    void loadAbout() override;

private:
    GlobalSettings& m_settings;
    Profile& m_profile;
    DialogHost& m_host;
};

} // namespace pellamark
