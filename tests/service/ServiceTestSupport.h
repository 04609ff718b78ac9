#pragma once

#include "Service.h"
#include "TempDir.h"

#include <httplib.h>

#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pellamark::service::testing {

using pellamark::testing::TempDir;

// The service running in this process on a free port of 127.0.0.1.
class RunningService {
public:
    explicit RunningService(const std::filesystem::path& dataDir)
        : m_service({dataDir, 32, [this](const std::string& line) {
                         std::lock_guard lock(m_logMutex);
                         m_log.push_back(line);
                     }}) {
        m_port = m_service.bind("127.0.0.1", 0);
        if (m_port <= 0)
            throw std::runtime_error("cannot bind");
        m_thread = std::thread([this] { m_service.run(); });
    }
    ~RunningService() { stop(); }

    // Returns once every request has been answered and logged.
    void stop() {
        if (m_thread.joinable()) {
            m_service.stop();
            m_thread.join();
        }
    }

    int port() const { return m_port; }
    Service& service() { return m_service; }

    // Bounded waits: a test must fail, not hang, when the service stops answering.
    httplib::Client client() const {
        httplib::Client cli("127.0.0.1", m_port);
        cli.set_connection_timeout(5);
        cli.set_read_timeout(10);
        cli.set_write_timeout(10);
        return cli;
    }

    std::vector<std::string> log() const {
        std::lock_guard lock(m_logMutex);
        return m_log;
    }

private:
    mutable std::mutex m_logMutex;
    std::vector<std::string> m_log;
    Service m_service;
    int m_port = 0;
    std::thread m_thread;
};

} // namespace pellamark::service::testing
