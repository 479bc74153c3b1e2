#include "plat/gui/termination.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace plat::gui {
namespace {

int pipeEnds[2] = {-1, -1};

void noteTermination(int)
{
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(pipeEnds[1], &byte, 1);
}

}  // namespace

void onTermination(QObject* context, std::function<void()> end)
{
    if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [end = std::move(end)] { end(); });
    std::signal(SIGTERM, noteTermination);
}

}  // namespace plat::gui
