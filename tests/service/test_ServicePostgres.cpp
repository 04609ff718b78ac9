// What only the PostgreSQL store has to show: several processes on one database, schema set-up
// when they start together, and a database that goes away and comes back while they serve.
#include "ServiceTestSupport.h"
#include "service/store/PostgresStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <latch>
#include <mutex>
#include <set>

using namespace pellamark::service;
using namespace pellamark::service::testing;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const std::string FormType = "application/x-www-form-urlencoded";

std::string pagePath(const std::string& userId) {
    return "/app/fav.asp?userid=" + userId + "&emailid=a@example.org";
}

std::string addForm(const std::string& title) {
    return "action=add&title=" + title + "&url=https%3A%2F%2Fexample.org%2F" + title;
}

// A new database on the shared cluster for one test, dropped afterwards.
class Database {
public:
    Database() : m_connection(sharedCluster().createDatabase()) {}
    ~Database() {
        try {
            sharedCluster().dropDatabase(m_connection);
        } catch (const std::exception&) {
        }
    }
    const std::string& connection() const { return m_connection; }
    std::string sql(const std::string& statement) const {
        return sharedCluster().sql(m_connection, statement);
    }

private:
    std::string m_connection;
};

class Postgres : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto why = TestStore::unavailable(StoreKind::Postgres))
            GTEST_SKIP() << *why;
    }
};

TEST_F(Postgres, ProcessesStartingTogetherOnAnEmptyDatabaseSetUpTheSchemaOnce) {
    Database db;
    constexpr int Starts = 8;
    std::vector<std::unique_ptr<PostgresStore>> stores(Starts);
    std::vector<std::string> errors(Starts);
    std::vector<std::thread> threads;
    std::latch ready(Starts);
    for (int i = 0; i < Starts; ++i)
        threads.emplace_back([&, i] {
            ready.arrive_and_wait();
            try {
                stores[i] = std::make_unique<PostgresStore>(db.connection(), 2);
            } catch (const std::exception& e) {
                errors[i] = e.what();
            }
        });
    for (auto& thread : threads)
        thread.join();
    for (const auto& error : errors)
        EXPECT_EQ(error, "");
    EXPECT_EQ(db.sql("SELECT count(*) || ':' || max(version) FROM pellamark_schema"),
              "1:" + std::to_string(FavouritesStore::SchemaVersion));

    // Nothing is kept in a store object: one sees what another added at once.
    ASSERT_TRUE(stores.front() && stores.back());
    const auto id = stores.front()->add("u", "t", "https://example.org/");
    const auto listed = stores.back()->list("u");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].id, id);
}

TEST_F(Postgres, RefusesADatabaseFromANewerRelease) {
    Database db;
    PostgresStore(db.connection(), 1).add("u", "t", "https://example.org/");
    db.sql("UPDATE pellamark_schema SET version = 99");
    try {
        PostgresStore store(db.connection(), 1);
        FAIL() << "a newer schema was accepted";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("newer release (schema 99"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(db.sql("SELECT count(*) FROM favourites"), "1");
}

TEST_F(Postgres, ConnectionsTheServerEndedAreReplacedWithoutAFailedCall) {
    Database db;
    PostgresStore store(db.connection(), 4);
    store.add("u", "first", "https://example.org/1");
    const std::string ended = db.sql("SELECT count(pg_terminate_backend(pid)) FROM "
                                     "pg_stat_activity WHERE datname = current_database() AND "
                                     "pid <> pg_backend_pid()");
    ASSERT_EQ(ended, "1");
    // Right away: the pooled connection is either seen to be closed, or fails and the list is
    // read again on a new one.
    EXPECT_EQ(store.list("u").size(), 1u);
    store.add("u", "second", "https://example.org/2");
    const auto listed = store.list("u");
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].title, "second");
}

TEST_F(Postgres, TwoProcessesOnOneDatabaseUnderLoadKeepEveryAddAndShowTheSameLists) {
#ifndef PELLAMARK_BENCH_BINARY
    GTEST_SKIP() << "built without the benchmarks (PELLAMARK_BUILD_BENCH=OFF), whose client "
                    "makes the load";
#else
    Database db;
    Child first(
        {PELLAMARK_SERVICE_BINARY, "--listen", "127.0.0.1:0", "--database", db.connection()});
    Child second(
        {PELLAMARK_SERVICE_BINARY, "--listen", "127.0.0.1:0", "--database", db.connection()});
    const int firstPort = announcedPort(first.firstLine());
    const int secondPort = announcedPort(second.firstLine());
    ASSERT_GT(firstPort, 0);
    ASSERT_GT(secondPort, 0);

    // Each client adds through one process and then lists through both: the benchmark fails on
    // any error, on a list without the add just made or differing between the processes, and
    // on an acknowledged add missing at the end.
    Child load({PELLAMARK_BENCH_BINARY, "--clients", "8", "--seconds", "3", "--target",
                "127.0.0.1:" + std::to_string(firstPort), "--target",
                "127.0.0.1:" + std::to_string(secondPort), "--every-target"});
    const std::string report = load.readAll(false);
    EXPECT_EQ(load.exitCode(), 0) << report;
    EXPECT_NE(report.find("service processes  2"), std::string::npos) << report;
    for (const char* line :
         {"errors             0", "stale lists        0", "lost writes        0"})
        EXPECT_NE(report.find(line), std::string::npos) << report;
    EXPECT_EQ(report.find("adds acknowledged  0 "), std::string::npos) << report;
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(second.running());
#endif
}

// The database stops (a restart, a fail-over) while clients keep coming: they get 503 in the
// meantime, the process lives on, and serves again once the database is back.
TEST_F(Postgres, DatabaseRestartedDuringLoadGives503MeanwhileAndServiceResumes) {
    // A cluster of this test's own: stopping the shared one would fail the tests beside it.
    auto cluster = PostgresCluster::start();
    const std::string db = cluster->createDatabase();
    Child service({PELLAMARK_SERVICE_BINARY, "--listen", "127.0.0.1:0", "--database", db});
    const int port = announcedPort(service.firstLine());
    ASSERT_GT(port, 0);

    struct Outcome {
        Clock::time_point at;
        bool add;
        int status; // -1: no answer at all
    };
    std::mutex mutex;
    std::vector<Outcome> outcomes;
    std::vector<int> acknowledged(4, 0);
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c)
        clients.emplace_back([&, c] {
            auto cli = clientFor(port);
            const std::string path = pagePath("restart" + std::to_string(c));
            for (int n = 0; !stop; ++n) {
                auto res =
                    cli.Post(path.c_str(), addForm("t" + std::to_string(n)), FormType.c_str());
                const int added = res ? res->status : -1;
                res = cli.Get(path.c_str());
                const int listed = res ? res->status : -1;
                std::lock_guard lock(mutex);
                outcomes.push_back({Clock::now(), true, added});
                outcomes.push_back({Clock::now(), false, listed});
                acknowledged[c] += added == 303;
                std::this_thread::sleep_for(10ms);
            }
        });

    std::this_thread::sleep_for(500ms);
    cluster->pause();
    std::this_thread::sleep_for(1500ms);
    cluster->resume();
    const auto resumed = Clock::now();
    auto servedSinceResume = [&] {
        std::lock_guard lock(mutex);
        return std::count_if(outcomes.begin(), outcomes.end(), [&](const Outcome& o) {
            return o.at > resumed + 1s && o.add && o.status == 303;
        });
    };
    const auto giveUp = resumed + 20s;
    while (servedSinceResume() < 8 && Clock::now() < giveUp)
        std::this_thread::sleep_for(50ms);
    stop = true;
    for (auto& client : clients)
        client.join();

    EXPECT_TRUE(service.running()) << service.readAll(true);
    int unavailable = 0;
    int unavailableAdds = 0;
    for (const auto& outcome : outcomes) {
        const std::set<int> expected = outcome.add ? std::set{303, 503} : std::set{200, 503};
        EXPECT_TRUE(expected.count(outcome.status)) << "status " << outcome.status;
        unavailable += outcome.status == 503;
        unavailableAdds += outcome.add && outcome.status == 503;
    }
    EXPECT_GT(unavailable, 0) << "no request met the stopped database";
    EXPECT_GE(servedSinceResume(), 8) << "the service did not resume";

    // Every acknowledged add is there; an add cut off by the stop may have been committed too.
    auto cli = clientFor(port);
    int listed = 0;
    int acked = 0;
    for (int c = 0; c < 4; ++c) {
        auto res = cli.Get(pagePath("restart" + std::to_string(c)).c_str());
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200);
        EXPECT_GE(countItems(res->body), acknowledged[c]) << "client " << c;
        listed += countItems(res->body);
        acked += acknowledged[c];
    }
    EXPECT_LE(listed, acked + unavailableAdds);
}

} // namespace
