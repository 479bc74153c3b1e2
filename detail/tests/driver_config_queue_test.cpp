// The driver-configuration updates on their own worker: they run in order and off the panel's thread,
// an update that has not started yet gives way to a newer one, the final one never does, and what one
// update finds for the resolution the next one starts from.

#include "driver_config_queue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace watchpanel;

namespace {

int argc = 1;
char name[] = "watchpanel_driver_config_queue_test";
char* argv[] = {name, nullptr};

// What the fake update saw: the request's mode and its first paper word, which the tests number.
struct Seen {
    std::uint32_t mode;
    std::int32_t number;
    std::int32_t resolution;
    bool onCaller;
};

class DriverConfigQueueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
    }
    // A test that failed with the gate closed still ends.
    ~DriverConfigQueueTest() override
    {
        open();
        worker.stop();
    }

    // The fake update: records what it got, holds while the gate is closed, reports a resolution.
    void run(DriverConfigRequest& request)
    {
        std::unique_lock lock(m_mutex);
        m_seen.push_back(
            {request.mode, request.paper[0], request.information[11], std::this_thread::get_id() == m_caller});
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_open; });
        request.information[11] = 600;
    }
    static DriverConfigRequest request(std::uint32_t mode, std::int32_t number)
    {
        DriverConfigRequest r;
        r.mode = mode;
        r.paper[0] = number;
        return r;
    }
    void waitForRuns(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        ASSERT_TRUE(m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_seen.size() >= count; }));
    }
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    std::vector<Seen> seen()
    {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }

    plat::gui::Worker worker{"test-spool"};
    DriverConfigQueue queue{worker, [this](DriverConfigRequest& r) { run(r); }};
    std::thread::id m_caller = std::this_thread::get_id();
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Seen> m_seen;  // guarded by m_mutex
    bool m_open = false;       // guarded by m_mutex
};

}  // namespace

TEST_F(DriverConfigQueueTest, UpdatesThatHaveNotStartedGiveWayToTheNewestAndAStatusUpdateOutweighsAPeriodicOne)
{
    queue.update(request(1, 1));
    waitForRuns(1);  // the first one runs, and holds the worker
    queue.update(request(0, 2));
    queue.update(request(1, 3));  // the latest state, with everything the status update writes
    queue.update(request(1, 4));
    open();
    waitForRuns(2);
    queue.update(request(1, 5));  // nothing waits: it runs as it came
    waitForRuns(3);
    worker.stop();

    const std::vector<Seen> runs = seen();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].number, 1);
    EXPECT_EQ(runs[1].number, 4);
    EXPECT_EQ(runs[1].mode, 0u);
    EXPECT_EQ(runs[2].number, 5);
    EXPECT_EQ(runs[2].mode, 1u);
    for (const Seen& s : runs) EXPECT_FALSE(s.onCaller);
}

TEST_F(DriverConfigQueueTest, TheFinalUpdateRunsAfterTheWaitingOneAndIsNeverMerged)
{
    queue.update(request(0, 1));
    waitForRuns(1);
    queue.update(request(0, 2));
    queue.update(request(2, 3));
    queue.update(request(1, 4));  // nothing merges into the final update
    open();
    worker.stop();  // runs what is queued

    const std::vector<Seen> runs = seen();
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[1].number, 2);
    EXPECT_EQ(runs[2].number, 3);
    EXPECT_EQ(runs[2].mode, 2u);
    EXPECT_EQ(runs[3].number, 4);
}

TEST_F(DriverConfigQueueTest, EachUpdateStartsFromTheResolutionTheLastOneFound)
{
    open();
    queue.update(request(0, 1));  // the panel's block says 0: nothing was found yet
    waitForRuns(1);
    queue.update(request(1, 2));  // still 0 in the panel's block, which the updates do not write
    worker.stop();
    const std::vector<Seen> runs = seen();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].resolution, 0);
    EXPECT_EQ(runs[1].resolution, 600);
}
