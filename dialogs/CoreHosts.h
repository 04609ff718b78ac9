#pragma once

#include "dialogs/DialogHost.h"
#include "net/CheckServer.h"
#include "settings/Profile.h"

namespace pellamark {

// What the core's routines need from the program's windows (the profile routines and the start-up
// check), carried out on the main window through the host the dialogs use. The one adapter from
// the core's names onto the window.
class CoreHosts final : public ProfileHost, public ServerCheckHost {
public:
    // `loader` may be null while no dialogs exist; the sign-up dialog is then not opened.
    CoreHosts(DialogHost& host, DialogLoader* loader) : m_host(host), m_loader(loader) {}

    // ProfileHost
    void PageAddress(const std::string& address) override;
    void ShowMainWindow() override;
    void LoadSignUpDialog() override;

    // ServerCheckHost
    void MsgBox(const std::string& text) override;
    void UnloadMain() override;

private:
    DialogHost& m_host;
    DialogLoader* m_loader;
};

} // namespace pellamark
