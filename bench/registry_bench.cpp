// Registry store throughput: the accessors' open+query+close, open+set+close and open+set+flush+close
// per second, in one process and in four at once, next to a bare prepared SQLite point query on the
// same file, and the largest size the store's write-ahead log (registry.db-wal) reaches while the
// processes run: no process ever closes the store, so that size is what the checkpoints keep it to.
// Runs in a fresh system root of its own.
//
//   registry_bench [google-benchmark flags] [--processes=N] [--seconds=S]

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "facts/store_names.h"
#include "plat/base/system_root.h"
#include "plat/registry/registry.h"
#include "registry_store.h"
#include "watchcore.h"

extern char** environ;

namespace {

using watchcore::StoreKey;
constexpr const char* kPrinter = "PG-03 Bench";

void prepareStore()
{
    PrinterEntry entry{};
    std::strcpy(entry.PrinterName, kPrinter);
    std::strcpy(entry.ModelName, "PG-03");
    if (fInitRegistory(&entry) != 1 ||
        !watchcore::createStoreKey(*plat::registry::Store::forCurrentRoot().value(), StoreKey::StEnviron, kPrinter)) {
        std::fprintf(stderr, "registry_bench: cannot prepare the store in %s\n", plat::systemRoot().c_str());
        std::exit(1);
    }
}

// One operation per kind; true on success.
bool runOperation(const std::string& kind, std::uint32_t i)
{
    std::uint32_t value = 0;
    if (kind == "query") return fGetRegistoryStRetryTime(kPrinter, &value) == 1;
    if (kind == "set")
        return watchcore::setDword(*plat::registry::Store::forCurrentRoot().value(), StoreKey::StEnviron, kPrinter,
                                   "TopMostFlag", i & 1);
    return fSetRegistoryDisplayFlag(kPrinter, i & 1) == 1;  // "flush": \Vigilmon sets are flushed
}

void BM_Accessor(benchmark::State& state, const std::string& kind)
{
    std::uint32_t i = 0;
    for (auto _ : state) {
        if (!runOperation(kind, i++)) state.SkipWithError("the accessor failed");
    }
    state.SetItemsProcessed(state.iterations());
}

// The floor: one prepared point query on the same value, no key lookup, no handle, no copy-out rules.
void BM_BareSqlitePointQuery(benchmark::State& state)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(plat::registryFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* find = nullptr;
    sqlite3_prepare_v2(db, "SELECT id FROM keys WHERE root=1 AND path=?1", -1, &find, nullptr);
    const std::string path = *watchcore::storeKeyPath(StoreKey::Vigilmon, kPrinter);
    sqlite3_bind_text(find, 1, path.c_str(), -1, SQLITE_STATIC);
    if (sqlite3_step(find) != SQLITE_ROW) {
        state.SkipWithError("store key not found");
        return;
    }
    const sqlite3_int64 key = sqlite3_column_int64(find, 0);
    sqlite3_finalize(find);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db, "SELECT data FROM vals WHERE key=?1 AND name='StRetryTime'", -1, &query, nullptr);
    for (auto _ : state) {
        sqlite3_bind_int64(query, 1, key);
        if (sqlite3_step(query) != SQLITE_ROW) state.SkipWithError("query failed");
        benchmark::DoNotOptimize(sqlite3_column_blob(query, 0));
        sqlite3_reset(query);
    }
    state.SetItemsProcessed(state.iterations());
    sqlite3_finalize(query);
    sqlite3_close(db);
}

// Wall-clock rates: a flush waits for the disk, which CPU time would not count.
BENCHMARK(BM_BareSqlitePointQuery)->UseRealTime();
BENCHMARK_CAPTURE(BM_Accessor, OpenQueryClose, std::string("query"))->UseRealTime();
BENCHMARK_CAPTURE(BM_Accessor, OpenSetClose, std::string("set"))->UseRealTime();
BENCHMARK_CAPTURE(BM_Accessor, OpenSetFlushClose, std::string("flush"))->UseRealTime();

// A worker process: waits for the common start, runs one kind for `seconds`, prints "ops errors".
int runWorker(const std::string& kind, std::int64_t startNs, double seconds)
{
    using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC: the same clock in every process
    std::this_thread::sleep_until(Clock::time_point(std::chrono::nanoseconds(startNs)));
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    unsigned long ops = 0, errors = 0;
    for (std::uint32_t i = 0; Clock::now() < end; ++i) {
        ++ops;
        if (!runOperation(kind, i)) ++errors;
    }
    std::printf("%lu %lu\n", ops, errors);
    return 0;
}

// Samples the size of the store's write-ahead log until stopped; keeps the largest.
class WalWatch {
public:
    WalWatch() : m_thread([this] { watch(); }) {}
    ~WalWatch() { stop(); }
    std::uintmax_t stop()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        return m_largest;
    }

private:
    void watch()
    {
        const std::filesystem::path wal = plat::registryFile().string() + "-wal";
        while (!m_stop) {
            std::error_code ignored;
            const auto size = std::filesystem::file_size(wal, ignored);
            if (!ignored) m_largest = std::max<std::uintmax_t>(m_largest, size);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    std::atomic<bool> m_stop{false};
    std::uintmax_t m_largest = 0;
    std::thread m_thread;
};

void runProcesses(int processes, double seconds)
{
    std::printf("\n%d processes at once, %.1f s per kind (every process its own connection):\n", processes, seconds);
    std::printf("  %-28s %14s %14s %8s %14s\n", "operation", "total ops/s", "per process", "errors", "largest WAL");
    for (const std::string kind : {"query", "set", "flush"}) {
        WalWatch walWatch;
        const auto startNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 (std::chrono::steady_clock::now() + std::chrono::milliseconds(300)).time_since_epoch())
                                 .count();
        std::vector<std::pair<pid_t, FILE*>> workers;
        for (int p = 0; p < processes; ++p) {
            int out[2];
            if (::pipe(out) != 0) return;
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
            posix_spawn_file_actions_addclose(&actions, out[0]);
            std::string a1 = "--worker=" + kind, a2 = "--start=" + std::to_string(startNs),
                        a3 = "--seconds=" + std::to_string(seconds);
            char* argv[] = {const_cast<char*>("/proc/self/exe"), a1.data(), a2.data(), a3.data(), nullptr};
            pid_t pid = 0;
            if (::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv, environ) != 0) pid = -1;
            posix_spawn_file_actions_destroy(&actions);
            ::close(out[1]);
            workers.emplace_back(pid, ::fdopen(out[0], "r"));
        }
        unsigned long total = 0, errors = 0;
        for (auto& [pid, file] : workers) {
            unsigned long ops = 0, errs = 0;
            if (std::fscanf(file, "%lu %lu", &ops, &errs) != 2) errs = 1;
            std::fclose(file);
            int status = 0;
            if (pid > 0) ::waitpid(pid, &status, 0);
            total += ops;
            errors += errs + ((pid <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) ? 1 : 0);
        }
        const char* label = kind == "query" ? "open+query+close"
                            : kind == "set" ? "open+set+close"
                                            : "open+set+flush+close";
        const double walMiB = static_cast<double>(walWatch.stop()) / (1024.0 * 1024.0);
        std::printf("  %-28s %14.0f %14.0f %8lu %10.1f MiB\n", label, total / seconds, total / seconds / processes,
                    errors, walMiB);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int processes = 4;
    double seconds = 2.0;
    std::string worker;
    std::int64_t startNs = 0;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--worker=", 0) == 0) worker = arg.substr(9);
        else if (arg.rfind("--start=", 0) == 0) startNs = std::stoll(arg.substr(8));
        else if (arg.rfind("--seconds=", 0) == 0) seconds = std::stod(arg.substr(10));
        else if (arg.rfind("--processes=", 0) == 0) processes = std::stoi(arg.substr(12));
        else rest.push_back(argv[i]);
    }
    if (!worker.empty()) return runWorker(worker, startNs, seconds);

    char pattern[] = "/tmp/kestrel-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    ::setenv("KESTREL_ROOT", pattern, 1);
    prepareStore();

    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (processes > 0) runProcesses(processes, seconds);

    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return 0;
}
