#include "FirefoxPeer.h"

#include "ChildProcess.h"
#include "TempDir.h"

#include <sqlite3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace pellamark::service::testing {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using pellamark::testing::Child;
using pellamark::testing::readFile;
using pellamark::testing::writeFile;

constexpr auto StartTimeout = 90s;
constexpr auto ImportTimeout = 60s;
constexpr auto QuitTimeout = 60s;

std::optional<fs::path> findFirefox() {
    if (const char* named = std::getenv("PELLAMARK_FIREFOX"))
        return fs::path(named);
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        const fs::path dir(dirs.substr(0, colon));
        for (const char* name : {"firefox-esr", "firefox"}) {
            if (::access((dir / name).c_str(), X_OK) == 0)
                return dir / name;
        }
        dirs = colon == std::string_view::npos ? std::string_view{} : dirs.substr(colon + 1);
    }
    return std::nullopt;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// The profile's prefs: import on first start, export on quitting, a Marionette port of the
// system's choosing (written to the profile), and nothing that reaches beyond this machine.
std::string userPrefs(const fs::path& bookmarks) {
    const std::vector<std::pair<std::string, std::string>> prefs = {
        {"browser.places.importBookmarksHTML", "true"},
        {"browser.bookmarks.file", quoted(bookmarks.string())},
        {"browser.bookmarks.autoExportHTML", "true"},
        {"marionette.port", "0"},
        // Every connection that slips through goes to the discard port of this machine.
        {"network.proxy.type", "1"},
        {"network.proxy.http", "\"127.0.0.1\""},
        {"network.proxy.http_port", "9"},
        {"network.proxy.ssl", "\"127.0.0.1\""},
        {"network.proxy.ssl_port", "9"},
        {"network.proxy.socks", "\"127.0.0.1\""},
        {"network.proxy.socks_port", "9"},
        {"network.proxy.socks_remote_dns", "true"},
        {"network.dns.disabled", "true"},
        {"network.trr.mode", "5"},
        {"network.dns.disablePrefetch", "true"},
        {"network.prefetch-next", "false"},
        {"network.http.speculative-parallel-limit", "0"},
        {"network.captive-portal-service.enabled", "false"},
        {"network.connectivity-service.enabled", "false"},
        {"app.update.disabledForTesting", "true"},
        {"app.update.auto", "false"},
        {"extensions.update.enabled", "false"},
        {"extensions.blocklist.enabled", "false"},
        {"extensions.getAddons.cache.enabled", "false"},
        {"services.settings.server", "\"data:,#remote-settings-off\""},
        {"datareporting.policy.dataSubmissionEnabled", "false"},
        {"datareporting.healthreport.uploadEnabled", "false"},
        {"toolkit.telemetry.enabled", "false"},
        {"toolkit.telemetry.unified", "false"},
        {"toolkit.telemetry.archive.enabled", "false"},
        {"toolkit.telemetry.server", "\"\""},
        {"browser.ping-centre.telemetry", "false"},
        {"browser.safebrowsing.malware.enabled", "false"},
        {"browser.safebrowsing.phishing.enabled", "false"},
        {"browser.safebrowsing.downloads.enabled", "false"},
        {"browser.safebrowsing.downloads.remote.enabled", "false"},
        {"browser.safebrowsing.blockedURIs.enabled", "false"},
        {"media.gmp-manager.updateEnabled", "false"},
        {"browser.region.network.url", "\"\""},
        {"browser.search.geoip.url", "\"\""},
        {"browser.shell.checkDefaultBrowser", "false"},
        {"browser.startup.homepage_override.mstone", "\"ignore\""},
        {"browser.aboutwelcome.enabled", "false"},
        {"browser.newtabpage.enabled", "false"},
        {"browser.startup.page", "0"},
        {"browser.sessionstore.resume_from_crash", "false"},
        {"toolkit.startup.max_resumed_crashes", "-1"},
    };
    std::string out;
    for (const auto& [name, value] : prefs)
        out += "user_pref(" + quoted(name) + ", " + value + ");\n";
    return out;
}

bool waitFor(std::chrono::steady_clock::duration timeout, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// A Marionette connection, just enough to have Firefox quit the way a person quitting it does.
class Marionette {
public:
    explicit Marionette(int port) : m_socket(::socket(AF_INET, SOCK_STREAM, 0)) {
        timeval timeout{30, 0};
        ::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot reach Firefox's Marionette port " +
                                     std::to_string(port));
        receive(); // the greeting
    }
    ~Marionette() { ::close(m_socket); }

    // Sends a command; throws when Firefox answers with an error.
    void command(const std::string& name, const std::string& parameters) {
        const std::string body =
            "[0," + std::to_string(++m_id) + "," + quoted(name) + "," + parameters + "]";
        const std::string message = std::to_string(body.size()) + ":" + body;
        if (::send(m_socket, message.data(), message.size(), MSG_NOSIGNAL) !=
            ssize_t(message.size()))
            throw std::runtime_error("Marionette: cannot send " + name);
        const std::string reply = receive();
        // [1, id, error, result]: the error is null when the command succeeded.
        std::string compact;
        std::copy_if(reply.begin(), reply.end(), std::back_inserter(compact),
                     [](char c) { return c != ' '; });
        if (!compact.starts_with("[1," + std::to_string(m_id) + ",null,"))
            throw std::runtime_error("Marionette: " + name + " failed: " + reply);
    }

private:
    std::string receive() {
        std::string length;
        char c = 0;
        while (::recv(m_socket, &c, 1, 0) == 1 && c != ':')
            length += c;
        if (length.empty() || length.size() > 9)
            throw std::runtime_error("Marionette: no answer");
        std::string body(std::stoul(length), '\0');
        for (std::size_t got = 0; got < body.size();) {
            const ssize_t n = ::recv(m_socket, body.data() + got, body.size() - got, 0);
            if (n <= 0)
                throw std::runtime_error("Marionette: answer cut short");
            got += std::size_t(n);
        }
        return body;
    }

    int m_socket;
    int m_id = 0;
};

std::string logTail(Child& firefox) {
    return "\n--- Firefox's output (end) ---\n" + firefox.outputTail(3000);
}

std::vector<FirefoxPeer::Place> readPlaces(const fs::path& database) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + database.string());
    }
    struct Row {
        std::int64_t parent = 0;
        int type = 0;
        std::string title;
        std::string guid;
        std::string url;
        std::int64_t added = 0;
    };
    std::map<std::int64_t, Row> rows;
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT b.id, b.parent, b.type, b.title, b.guid, p.url, b.dateAdded "
                       "FROM moz_bookmarks b LEFT JOIN moz_places p ON p.id = b.fk",
                       -1, &stmt, nullptr);
    auto text = [stmt](int column) {
        const auto* value = sqlite3_column_text(stmt, column);
        return value ? std::string(reinterpret_cast<const char*>(value)) : std::string();
    };
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        rows[sqlite3_column_int64(stmt, 0)] = Row{sqlite3_column_int64(stmt, 1),
                                                  sqlite3_column_int(stmt, 2),
                                                  text(3),
                                                  text(4),
                                                  text(5),
                                                  sqlite3_column_int64(stmt, 6) / 1'000'000};
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);

    // Firefox's own roots: the menu, toolbar, "Other Bookmarks" and mobile folders hold the
    // user's bookmarks, the tags root holds one folder per tag with an entry per address.
    const std::vector<std::string> tops = {"menu________", "toolbar_____", "unfiled_____",
                                           "mobile______"};
    std::vector<FirefoxPeer::Place> places;
    std::map<std::string, std::vector<std::string>> tagsOfUrl;
    for (const auto& [id, row] : rows) {
        if (row.type != 1)
            continue;
        std::vector<std::string> folders;
        bool tagEntry = false;
        for (auto parent = rows.find(row.parent); parent != rows.end();
             parent = rows.find(parent->second.parent)) {
            const Row& folder = parent->second;
            if (folder.guid == "tags________") {
                tagEntry = true;
                break;
            }
            if (folder.guid == "root________" ||
                std::find(tops.begin(), tops.end(), folder.guid) != tops.end())
                break;
            folders.insert(folders.begin(), folder.title);
        }
        if (tagEntry)
            tagsOfUrl[row.url].push_back(folders.empty() ? "" : folders.front());
        else
            places.push_back({folders, row.title, row.url, {}, row.added});
    }
    for (auto& place : places) {
        place.tags = tagsOfUrl[place.url];
        std::sort(place.tags.begin(), place.tags.end());
    }
    return places;
}

} // namespace

std::optional<std::string> FirefoxPeer::unavailable() {
    if (!findFirefox())
        return "Firefox is not installed (neither firefox-esr nor firefox is on the PATH; "
               "scripts/install-deps.sh installs firefox-esr)";
    return std::nullopt;
}

FirefoxPeer::FirefoxPeer(fs::path folder) : m_folder(std::move(folder)) {}

FirefoxPeer::Result FirefoxPeer::importThenExport(const fs::path& file) {
    const auto program = findFirefox();
    if (!program)
        throw NotStarted(*unavailable());
    const fs::path profile = m_folder / "profile";
    const fs::path home = m_folder / "home";
    const fs::path bookmarks = m_folder / "bookmarks.html";
    fs::create_directories(profile);
    fs::create_directories(home / "tmp");
    fs::copy_file(file, bookmarks, fs::copy_options::overwrite_existing);
    writeFile(profile / "user.js", userPrefs(bookmarks));

    const char* path = std::getenv("PATH");
    std::vector<std::string> env = {
        "HOME=" + home.string(),
        "TMPDIR=" + (home / "tmp").string(),
        "XDG_CONFIG_HOME=" + (home / "config").string(),
        "XDG_CACHE_HOME=" + (home / "cache").string(),
        "XDG_DATA_HOME=" + (home / "data").string(),
        "PATH=" + std::string(path ? path : "/usr/bin:/bin"),
        "MOZ_HEADLESS=1",
        "MOZ_CRASHREPORTER_DISABLE=1",
        "MOZ_DISABLE_AUTO_SAFE_MODE=1",
    };

    // Firefox and the processes it starts, killed whole at the end.
    std::optional<Child> started;
    try {
        started.emplace(std::vector<std::string>{program->string(), "--headless", "--no-remote",
                                                 "--marionette", "--profile", profile.string(),
                                                 "about:blank"},
                        Child::Options{.environment = env, .ownGroup = true, .input = {}});
    } catch (const std::runtime_error& e) {
        throw NotStarted(e.what());
    }
    Child& firefox = *started;

    const fs::path portFile = profile / "MarionetteActivePort";
    std::string port;
    const bool listening = waitFor(StartTimeout, [&] {
        std::error_code ec;
        if (fs::exists(portFile, ec))
            port = readFile(portFile);
        return !port.empty() || !firefox.running();
    });
    if (!listening || port.empty())
        throw NotStarted(std::string(listening ? "Firefox ended at start-up"
                                               : "Firefox did not come up within its time") +
                         logTail(firefox));

    // Firefox clears the import pref once the import is done, and saves its prefs soon after.
    const fs::path prefs = profile / "prefs.js";
    const bool imported = waitFor(ImportTimeout, [&] {
        std::error_code ec;
        return fs::exists(prefs, ec) &&
               readFile(prefs).find("\"browser.places.importBookmarksHTML\", false") !=
                   std::string::npos;
    });
    if (!imported)
        throw std::runtime_error("Firefox did not import the bookmark file" + logTail(firefox));

    // From here on a bookmarks.html can only be the file Firefox writes when it quits.
    fs::remove(bookmarks);
    {
        Marionette marionette(std::stoi(port));
        marionette.command("WebDriver:NewSession", "{\"capabilities\":{}}");
        try {
            marionette.command("Marionette:Quit", "{\"flags\":[\"eAttemptQuit\"]}");
        } catch (const std::runtime_error&) {
            // The connection may close before the answer; whether Firefox quit is seen below.
        }
    }
    if (!waitFor(QuitTimeout, [&] { return !firefox.running(); }))
        throw std::runtime_error("Firefox did not quit" + logTail(firefox));
    if (const int status = firefox.exitCode(0); status != 0)
        throw std::runtime_error("Firefox ended with status " + std::to_string(status) +
                                 logTail(firefox));
    std::error_code ec;
    if (!fs::exists(bookmarks, ec))
        throw std::runtime_error("Firefox wrote no bookmark file on quitting" + logTail(firefox));

    return Result{readPlaces(profile / "places.sqlite"), readFile(bookmarks)};
}

} // namespace pellamark::service::testing
