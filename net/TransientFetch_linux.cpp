#include "net/TransientFetch.h"

#include "net/FetchProgram.h"
#include "system/ProgramFiles.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pellamark {

namespace {

// The fetch program keeps the fetch's own deadlines; this side waits that long and a little more
// before it gives up on a helper that hangs.
constexpr std::chrono::milliseconds HelperGrace{5'000};

struct RunTimeError {
    std::int32_t number;
    std::string description;
};

std::string endDescription(int status) {
    if (WIFSIGNALED(status))
        return "it was stopped by signal " + std::to_string(WTERMSIG(status));
    return "it ended with exit code " + std::to_string(WEXITSTATUS(status));
}

// Runs the helper; its whole output, or why there is none.
std::variant<std::string, RunTimeError> runHelper(const std::filesystem::path& program,
                                                  const std::vector<std::string>& arguments,
                                                  std::chrono::milliseconds patience) {
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return RunTimeError{errno, std::strerror(errno)};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    std::string name = program.string();
    argv.push_back(name.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, name.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    if (spawned != 0) {
        ::close(output[0]);
        return RunTimeError{spawned, name + ": " + std::strerror(spawned)};
    }

    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    bool hung = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            hung = true;
            break;
        }
        pollfd ready{output[0], POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0) {
            hung = polled == 0;
            break;
        }
        char buffer[16384];
        const ssize_t got = ::read(output[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(output[0]);
    if (hung)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (hung)
        return RunTimeError{ETIMEDOUT, name + ": it gave no answer in time"};
    if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        return RunTimeError{WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status),
                            name + ": " + endDescription(status)};
    return text;
}

} // namespace

UrlFetcher transientFetcher(const std::filesystem::path& programFolder) {
    const std::filesystem::path program =
        findProgramFile(programFolder, ProgramFile::Module, FetchProgramName);
    return [program](const std::string& url, const FetchOptions& options) -> std::string {
        const auto output =
            runHelper(program, fetchArguments(url, options), options.totalTimeout + HelperGrace);
        std::optional<FetchAnswer> answer;
        RunTimeError error{0, {}};
        if (const auto* text = std::get_if<std::string>(&output)) {
            answer = decodeFetchAnswer(*text);
            if (!answer)
                error = {EPROTO, program.string() + ": it gave no answer"};
        } else {
            error = std::get<RunTimeError>(output);
        }
        if (answer && answer->runTimeError)
            error = {answer->runTimeError->first, answer->runTimeError->second};
        if (!answer || answer->runTimeError) {
            if (options.onRunTimeError)
                options.onRunTimeError(error.number, error.description);
            return {};
        }
        if (answer->failure && options.onFailure)
            options.onFailure(*answer->failure);
        return std::move(answer->page);
    };
}

} // namespace pellamark
