#pragma once

#include <string>

namespace pellamark {

// Holds the per-user "program is running" lock for the life of the process. The operating
// system releases it when the process ends in any way, so a crash leaves nothing stale behind.
class SingleInstance {
public:
    enum class Result {
        First,          // this copy holds the lock
        AlreadyRunning, // another copy of this user's program holds it
        Unchecked,      // no safe place for the lock: run rather than refuse to start
    };

    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock of the current user's session without waiting.
    Result acquire();
    // The same, with the folders given: `runtimeDir` (empty: not available) and the base of
    // the private fallback folder (`fallbackBase`/pellamark-<uid>).
    Result acquire(const std::string& runtimeDir, const std::string& fallbackBase);

private:
    long long m_handle = -1;
};

} // namespace pellamark
