// Windows: a named mutex in the user's session.
#include "system/SingleInstance.h"

#include <windows.h>

namespace pellamark {

SingleInstance::~SingleInstance() {
    if (m_handle >= 0)
        CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(m_handle)));
}

SingleInstance::Result SingleInstance::acquire() {
    return acquire(std::string());
}

SingleInstance::Result SingleInstance::acquire(const std::string&) {
    // "Local\" keeps the name per logon session, so every user runs one copy of their own.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "Local\\Quellworks.Pellamark.Running");
    if (mutex == nullptr)
        return Result::Unchecked;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return Result::AlreadyRunning;
    }
    m_handle = static_cast<long long>(reinterpret_cast<intptr_t>(mutex));
    return Result::First;
}

} // namespace pellamark
