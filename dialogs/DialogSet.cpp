#include "DialogSet.h"

// Placeholder until the dialogs exist: loading does nothing.
namespace pellamark {

DialogSet::DialogSet(GlobalSettings& settings, Profile& profile, DialogHost& host)
    : m_settings(settings), m_profile(profile), m_host(host) {}
DialogSet::~DialogSet() = default;
void DialogSet::loadSignUp() {}
void DialogSet::loadOptions() {}
void DialogSet::loadAbout() {}

} // namespace pellamark
