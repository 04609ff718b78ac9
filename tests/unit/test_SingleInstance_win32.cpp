// The single instance on Windows: a second process of the same user sees the first.
#include "system/SingleInstance.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

using pellamark::SingleInstance;

namespace {

std::wstring probePath() {
    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return self.substr(0, self.find_last_of(L"\\/") + 1) + L"single_instance_probe.exe";
}

// A probe process; with `hold` it keeps the lock until its input is closed.
class Probe {
public:
    explicit Probe(bool hold) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childInput = nullptr;
        HANDLE childOutput = nullptr;
        ::CreatePipe(&childInput, &m_input, &inherit, 0);
        ::CreatePipe(&m_output, &childOutput, &inherit, 0);
        ::SetHandleInformation(m_input, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(m_output, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = childOutput;
        std::wstring commandLine = L"\"" + probePath() + L"\"" + (hold ? L" hold" : L"");
        m_started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                     nullptr, nullptr, &startup, &m_process) != 0;
        ::CloseHandle(childInput);
        ::CloseHandle(childOutput);
    }
    ~Probe() {
        closeInput();
        if (m_started) {
            ::WaitForSingleObject(m_process.hProcess, 10'000);
            ::CloseHandle(m_process.hProcess);
            ::CloseHandle(m_process.hThread);
        }
        ::CloseHandle(m_output);
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    bool started() const { return m_started; }
    // The first line the probe printed.
    std::string firstLine() {
        std::string line;
        char c = 0;
        DWORD got = 0;
        while (::ReadFile(m_output, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
            if (c != '\r') { // the C library writes text lines with CR LF
                line.push_back(c);
            }
        }
        return line;
    }
    void closeInput() {
        if (m_input != nullptr) {
            ::CloseHandle(m_input);
            m_input = nullptr;
        }
    }
    void kill() { ::TerminateProcess(m_process.hProcess, 9); }
    // The exit code, once the probe has ended; -1 when it hasn't within ten seconds.
    long exitCode() {
        if (::WaitForSingleObject(m_process.hProcess, 10'000) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        ::GetExitCodeProcess(m_process.hProcess, &code);
        return static_cast<long>(code);
    }

private:
    HANDLE m_input = nullptr;
    HANDLE m_output = nullptr;
    PROCESS_INFORMATION m_process{};
    bool m_started = false;
};

TEST(SingleInstanceTest, ASecondProcessSeesTheFirst) {
    {
        auto first = std::make_unique<SingleInstance>();
        ASSERT_EQ(first->acquire(), SingleInstance::Result::First);
        Probe second(false);
        ASSERT_TRUE(second.started());
        EXPECT_EQ(second.exitCode(), 1); // AlreadyRunning
    }
    // Released with its holder.
    Probe again(false);
    ASSERT_TRUE(again.started());
    EXPECT_EQ(again.exitCode(), 0); // First
}

TEST(SingleInstanceTest, TheLockDiesWithAProcessThatEndsInAnyWay) {
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "ended");
        Probe holder(true);
        ASSERT_TRUE(holder.started());
        ASSERT_EQ(holder.firstLine(), "holding");
        SingleInstance blocked;
        EXPECT_EQ(blocked.acquire(), SingleInstance::Result::AlreadyRunning);
        if (killed) {
            holder.kill();
        } else {
            holder.closeInput();
        }
        EXPECT_NE(holder.exitCode(), -1);
        SingleInstance after;
        EXPECT_EQ(after.acquire(), SingleInstance::Result::First);
    }
}

} // namespace
