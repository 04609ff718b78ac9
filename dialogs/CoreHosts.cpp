#include "dialogs/CoreHosts.h"

#include "components/MessageBoxes.h"

namespace pellamark {

void CoreHosts::PageAddress(const std::string& address) {
    m_host.PageAddress(QString::fromStdString(address));
}

void CoreHosts::ShowMainWindow() {
    m_host.showMain();
}

void CoreHosts::LoadSignUpDialog() {
    if (m_loader != nullptr) {
        m_loader->loadSignUp();
    }
}

void CoreHosts::MsgBox(const std::string& text) {
    m_host.messageBoxes().MsgBox(QString::fromStdString(text));
}

void CoreHosts::UnloadMain() {
    m_host.unloadMain();
}

} // namespace pellamark
