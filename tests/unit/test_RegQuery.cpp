// What Windows' own registry tool sees of what the program writes, and what the program reads of
// what the tool writes: the real HKEY_CURRENT_USER (under Wine, the throw-away prefix's).
#include "settings/Profile.h"
#include "settings/Registry.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

using namespace pellamark;

namespace {

struct ToolRun {
    DWORD exitCode = 0;
    std::string output;
};

// Runs reg.exe with `arguments`, straight (no shell), and collects what it prints.
ToolRun reg(const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"reg.exe " + arguments;
    const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    ::CloseHandle(writeEnd);
    ToolRun run;
    if (!started) {
        ::CloseHandle(readEnd);
        ADD_FAILURE() << "reg.exe did not start: " << ::GetLastError();
        return run;
    }
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        run.output.append(buffer, got);
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &run.exitCode);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    ::CloseHandle(readEnd);
    std::erase(run.output, '\r');
    return run;
}

std::wstring wide(const std::string& utf8) {
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

// The line reg query prints for a value: four blanks, name, type and data apart by four blanks.
std::string line(const std::string& name, const std::string& type, const std::string& data) {
    return "    " + name + "    " + type + "    " + data + "\n";
}

class NoHost : public ProfileHost {
public:
    void PageAddress(const std::string&) override {}
    void ShowMainWindow() override {}
    void LoadSignUpDialog() override {}
};

class RegQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (registry.RegKeyExists(HKEY_CURRENT_USER_, ProfileKey)) {
            GTEST_SKIP() << "this user has a profile of the program; the test leaves it alone";
        }
        profile.setUserIdGenerator([] { return std::string("abcde0123456789"); });
        created = true;
    }

    void TearDown() override {
        if (!created) {
            return;
        }
        ::RegDeleteTreeW(HKEY_CURRENT_USER, wide(ProfileKey).c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, wide(ProfileParentKey).c_str()); // only when empty
        registry.DeleteRegValue(HKEY_CURRENT_USER_, RunKey, executable.fileNameWithoutExtension);
    }

    std::unique_ptr<RegistryStore> store = makeUserRegistryStore();
    Registry registry{*store};
    GlobalSettings settings;
    ExecutableInfo executable = currentExecutable();
    Profile profile{registry, settings, executable, "svc.test"};
    NoHost host;
    bool created = false;
    const std::wstring profileKey = L"\"HKCU\\" + wide(ProfileKey) + L"\"";
    const std::wstring runKey = L"\"HKCU\\" + wide(RunKey) + L"\"";
};

TEST_F(RegQueryTest, TheToolSeesTheProfileAndTheRunEntryAsWritten) {
    settings.NewEmailAddress = " me@example.org ";
    profile.CreateProfile();

    const ToolRun created = reg(L"query " + profileKey);
    ASSERT_EQ(created.exitCode, 0u) << created.output;
    for (const std::string& expected :
         {line("UserId", "REG_SZ", "abcde0123456789"),
          line("EmailAddress", "REG_SZ", "me@example.org"), line("PubId", "REG_DWORD", "0x2"),
          line("Version", "REG_SZ", "1.00.00"), line("StartUp", "REG_DWORD", "0x1")}) {
        EXPECT_NE(created.output.find(expected), std::string::npos) << expected << "in:\n"
                                                                    << created.output;
    }
    // The entry is named after the program and holds its full path, as Windows starts it.
    ASSERT_NE(executable.fullPath.find(":\\"), std::string::npos) << executable.fullPath;
    const ToolRun run =
        reg(L"query " + runKey + L" /v " + wide(executable.fileNameWithoutExtension));
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(
        run.output.find(line(executable.fileNameWithoutExtension, "REG_SZ", executable.fullPath)),
        std::string::npos)
        << run.output;

    settings.NewEmailAddress = "4711";
    settings.StartWithWindows = false;
    profile.SaveOptions(host);
    const ToolRun saved = reg(L"query " + profileKey);
    EXPECT_NE(saved.output.find(line("EmailAddress", "REG_DWORD", "0x1267")), std::string::npos)
        << saved.output;
    EXPECT_NE(saved.output.find(line("StartUp", "REG_DWORD", "0x0")), std::string::npos)
        << saved.output;
    EXPECT_EQ(
        reg(L"query " + runKey + L" /v " + wide(executable.fileNameWithoutExtension)).exitCode, 1u);
}

// Values another program wrote, under names spelt its own way, read back by the program.
TEST_F(RegQueryTest, TheProgramReadsWhatTheToolWrites) {
    const struct {
        const wchar_t* name;
        const wchar_t* type;
        const wchar_t* data;
        const char* readAs;
        RegValue expected;
    } cases[] = {
        {L"USERID", L"REG_SZ", L"zyxwv9876543210", "UserId", std::string("zyxwv9876543210")},
        {L"pubid", L"REG_DWORD", L"4294967295", "PubId", -1},
        {L"EmailAddress", L"REG_SZ", L"gr\u00fc\u00dfe@example.org", "emailaddress",
         std::string("gr\u00fc\u00dfe@example.org")},
        {L"Version", L"REG_EXPAND_SZ", L"%APPDATA%", "Version", std::string()},
        {L"StartUp", L"REG_BINARY", L"01000000", "Startup", std::string()},
        {L"Empty", L"REG_SZ", L"\"\"", "Empty", std::string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.readAs);
        const ToolRun added = reg(L"add " + profileKey + L" /v " + c.name + L" /t " + c.type +
                                  L" /d " + c.data + L" /f");
        ASSERT_EQ(added.exitCode, 0u) << added.output;
        EXPECT_EQ(registry.GetRegValue(HKEY_CURRENT_USER_, ProfileKey, c.readAs), c.expected);
        EXPECT_EQ(registry.LastRegResult(), 0);
    }
    profile.LoadProfile(host);
    // Characters beyond ASCII go into the address as their UTF-8 bytes, escaped.
    EXPECT_EQ(settings.FavoritesUrl, "http://svc.test/app/fav.asp?userid=zyxwv9876543210"
                                     "&emailid=gr%C3%BC%C3%9Fe@example.org&pubid=-1&version=");
}

} // namespace
