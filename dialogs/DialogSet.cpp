#include "dialogs/DialogSet.h"

#include "dialogs/frmAbout.h"
#include "dialogs/frmOptions.h"
#include "dialogs/frmUserInfo.h"

namespace pellamark {

namespace {

// A closed dialog lingers, hidden, until its deferred deletion runs; it no longer counts as open.
template <typename Dialog> Dialog* openDialog(const QPointer<Dialog>& dialog) {
    return dialog && dialog->isVisible() ? dialog.data() : nullptr;
}

} // namespace

DialogSet::DialogSet(GlobalSettings& settings, Profile& profile, DialogHost& host)
    : m_settings(settings), m_profile(profile), m_host(host) {}

DialogSet::~DialogSet() {
    // The dialogs refer to the settings and the host, which may not outlive this set.
    delete m_signUp.data();
    delete m_options.data();
    delete m_about.data();
}

void DialogSet::loadSignUp() {
    if (openDialog(m_signUp) != nullptr) {
        return;
    }
    m_signUp = new frmUserInfo(m_settings, m_profile, m_host);
    m_signUp->Form_Load();
}

void DialogSet::loadOptions() {
    if (openDialog(m_options) != nullptr) {
        return;
    }
    m_options = new frmOptions(m_settings, m_profile, m_host, *this);
    m_options->Form_Load();
}

void DialogSet::loadAbout() {
    if (openDialog(m_about) != nullptr) {
        return;
    }
    m_about = new frmAbout(m_settings, m_host);
    m_about->Form_Load();
}

frmUserInfo* DialogSet::signUpDialog() const {
    return openDialog(m_signUp);
}
frmOptions* DialogSet::optionsDialog() const {
    return openDialog(m_options);
}
frmAbout* DialogSet::aboutDialog() const {
    return openDialog(m_about);
}

} // namespace pellamark
