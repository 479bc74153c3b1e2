// The worker thread: jobs in order and off the caller's thread, results back on the receiver's thread,
// and a stop that runs what was posted and tears the worker's objects down on the worker.

#include "plat/gui/worker.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <vector>

namespace {

int argc = 1;
char name[] = "plat_worker_test";
char* argv[] = {name, nullptr};

class WorkerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
    }
};

}  // namespace

TEST_F(WorkerTest, JobsRunInOrderOnTheWorkerAndResultsComeBackOnTheReceiversThread)
{
    plat::gui::Worker worker("test-worker");
    QObject window;
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<bool> offCaller{true};
    std::vector<int> results;
    for (int i = 0; i < 50; ++i) {
        worker.post([&, i] {
            if (!worker.onWorkerThread()) offCaller = false;
            {
                std::lock_guard lock(mutex);
                order.push_back(i);
            }
            plat::gui::postTo(&window, [&, i] {
                EXPECT_EQ(QThread::currentThread(), window.thread());
                results.push_back(i);
            });
        });
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return results.size() == 50; }, 30000));
    EXPECT_TRUE(offCaller);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[i], i);
        EXPECT_EQ(results[i], i);
    }
}

TEST_F(WorkerTest, StopRunsWhatWasPostedAndDestroysTheWorkersObjectsOnTheWorker)
{
    std::atomic<int> ran{0};
    std::atomic<bool> destroyedOnWorker{false};
    {
        plat::gui::Worker worker("test-worker");
        worker.post([&] {
            auto* timer = new QTimer(worker.context());
            QObject::connect(timer, &QObject::destroyed, [&] { destroyedOnWorker = worker.onWorkerThread(); });
            timer->start(10);
        });
        for (int i = 0; i < 10; ++i) worker.post([&] { ++ran; });
        worker.stop();
        EXPECT_EQ(ran, 10);
        worker.post([&] { ++ran; });  // after the stop: nothing runs
    }
    EXPECT_EQ(ran, 10);
    EXPECT_TRUE(destroyedOnWorker);
}
