// What the detail program's cadences cost by themselves: threads that wake as its engine loops and its
// status timer do (500, 500, 1000 and 5000 ms, and 500 ms) and do nothing else. bench/system runs as
// many of these as it runs detail programs and reports their CPU as the floor under its own figure.
//     idle_floor SECONDS
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
    if (seconds <= 0) {
        std::fputs("usage: idle_floor SECONDS\n", stderr);
        return 2;
    }
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::vector<std::thread> threads;
    for (int ms : {500, 500, 1000, 5000, 500}) {
        threads.emplace_back([&, ms] {
            std::unique_lock lock(mutex);
            while (!wake.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stop; })) {
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    wake.notify_all();
    for (std::thread& t : threads) t.join();
    return 0;
}
