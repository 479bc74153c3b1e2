#include "testsupport/machine_wait.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

namespace testsupport {

namespace {

// A /proc file's text from its start; empty when it cannot be read.
std::string_view readFrom(int fd, char* buffer, std::size_t size)
{
    if (fd < 0) return {};
    const ssize_t got = ::pread(fd, buffer, size - 1, 0);
    return got > 0 ? std::string_view(buffer, static_cast<std::size_t>(got)) : std::string_view();
}

}  // namespace

MachineWait::MachineWait()
    : m_schedstat(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)),
      m_stat(::open("/proc/stat", O_RDONLY | O_CLOEXEC))
{
    stealSinceLastCall();
}

MachineWait::~MachineWait()
{
    if (m_schedstat >= 0) ::close(m_schedstat);
    if (m_stat >= 0) ::close(m_stat);
}

std::int64_t MachineWait::nanoseconds()
{
    m_stolen += stealSinceLastCall();
    return runQueueWait() + m_stolen;
}

std::int64_t MachineWait::runQueueWait() const
{
    char text[96];
    const std::string_view line = readFrom(m_schedstat, text, sizeof text);
    if (line.empty()) return 0;
    text[line.size()] = '\0';
    unsigned long long ran = 0, waited = 0;
    return std::sscanf(text, "%llu %llu", &ran, &waited) == 2 ? static_cast<std::int64_t>(waited) : 0;
}

std::int64_t MachineWait::stealSinceLastCall()
{
    char text[16384];
    std::string_view rest = readFrom(m_stat, text, sizeof text);
    std::vector<std::int64_t> ticks;
    // "cpuN user nice system idle iowait irq softirq steal ..." for each CPU, after the "cpu " total.
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos) break;  // a line the buffer cut
        std::string line(rest.substr(0, end));
        rest.remove_prefix(end + 1);
        if (line.size() < 4 || line.compare(0, 3, "cpu") != 0) break;
        if (line[3] == ' ') continue;
        unsigned long long field[8] = {};
        if (std::sscanf(line.c_str(), "%*s %llu %llu %llu %llu %llu %llu %llu %llu", &field[0], &field[1], &field[2],
                        &field[3], &field[4], &field[5], &field[6], &field[7]) == 8) {
            ticks.push_back(static_cast<std::int64_t>(field[7]));
        }
    }
    std::int64_t most = 0;
    if (ticks.size() == m_stealTicks.size()) {
        for (std::size_t cpu = 0; cpu < ticks.size(); ++cpu) most = std::max(most, ticks[cpu] - m_stealTicks[cpu]);
    }
    m_stealTicks = std::move(ticks);
    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    return ticksPerSecond > 0 ? most * (1'000'000'000 / ticksPerSecond) : 0;
}

}  // namespace testsupport
