#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Programs the service's tests and benchmarks start: the service binary, the benchmark's load,
// a browser, a cluster's script.
namespace pellamark::testing {

// A program started without a shell, killed at the end if it is still running. Its standard
// output and error are read all along (a service logging into a full pipe would stop serving).
class Child {
public:
    struct Options {
        // The child's whole environment; ours when empty.
        std::vector<std::string> environment;
        // In a process group of its own, killed whole at the end (a browser and its helpers).
        bool ownGroup = false;
        // What its standard input reads; nothing when empty.
        std::filesystem::path input;
    };

    explicit Child(std::vector<std::string> args) : Child(std::move(args), Options{}) {}
    Child(std::vector<std::string> args, const Options& options);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The first line on standard output, or empty after a few seconds without one.
    std::string firstLine();
    // Everything the child wrote to the stream until it closed it (bounded in time).
    std::string readAll(bool error);
    // What it wrote to both streams so far, at most the last `limit` characters of each.
    std::string outputTail(std::size_t limit);
    void signal(int number);
    bool running();
    // The exit status (128 + the signal when a signal ended it), or -1 when the child has not
    // exited within timeoutMs (it is left running then).
    int exitCode(int timeoutMs = 10'000);

private:
    void drain();

    bool reap(int options);

    pid_t m_pid = -1;
    pid_t m_lastPid = -1;
    bool m_ownGroup = false;
    int m_exit = -1; // once reaped
    int m_out = -1;
    int m_err = -1;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_outText;
    std::string m_errText;
    bool m_outClosed = false;
    bool m_errClosed = false;
    std::thread m_reader;
};

// The port of a service binary from its "listening on HOST:PORT" line, or 0.
int announcedPort(const std::string& line);

// Runs a program to its end, its output left where ours goes; its exit status, or -1 when it
// could not run or a signal ended it.
int runToEnd(std::vector<std::string> args);

} // namespace pellamark::testing
