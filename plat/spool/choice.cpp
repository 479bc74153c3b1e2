// Which spooler a process uses, and the shared CUPS spooler behind current().

#include <cups/cups.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>

#include "plat/spool/spooler.h"

namespace plat::spool {
namespace {

// A scheduler answers when one IPP request comes back within a short bound; a socket nobody listens
// on refuses at once.
bool schedulerAnswers()
{
    http_t* http =
        httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 500, nullptr);
    if (http == nullptr) return false;
    httpSetTimeout(
        http, 2.0, [](http_t*, void*) { return 0; }, nullptr);
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-name");
    ipp_t* response = cupsDoRequest(http, request, "/");
    // Any answer, "no default printer" included, comes from a scheduler.
    const bool answered = response != nullptr || cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND;
    ippDelete(response);
    httpClose(http);
    return answered;
}

Kind decide()
{
    if (const char* chosen = std::getenv("KESTREL_SPOOLER"); chosen != nullptr && *chosen != '\0') {
        const std::string_view c(chosen);
        if (c == "cups") return Kind::Cups;
        if (c == "embedded") return Kind::Embedded;
    }
    return schedulerAnswers() ? Kind::Cups : Kind::Embedded;
}

// A handle on the process's one CUPS spooler.
class SharedCups final : public CupsSpooler {
public:
    explicit SharedCups(std::shared_ptr<CupsSpooler> shared) : m(std::move(shared)) {}

    Result<std::vector<Printer>> printers() override { return m->printers(); }
    Result<Printer> printer(std::string_view name) override { return m->printer(name); }
    Result<std::vector<Driver>> drivers() override { return m->drivers(); }
    Result<std::vector<std::string>> ports() override { return m->ports(); }
    Done submitJobs(std::string_view printer, std::uint32_t count) override { return m->submitJobs(printer, count); }
    Done finishJobs(std::string_view printer, std::uint32_t count) override { return m->finishJobs(printer, count); }
    Done setPrinterData(std::string_view printer, std::string_view name, registry::ValueType type,
                        std::span<const std::byte> data) override
    {
        return m->setPrinterData(printer, name, type, data);
    }
    Result<std::vector<std::byte>> printerData(std::string_view printer, std::string_view name) override
    {
        return m->printerData(printer, name);
    }
    std::uint64_t changeCount() override { return m->changeCount(); }
    bool waitForChange(std::uint64_t seen, std::chrono::milliseconds bound) override
    {
        return m->waitForChange(seen, bound);
    }
    Done addDriver(const Driver& driver) override { return m->addDriver(driver); }
    Done addMonitor(const Monitor& monitor) override { return m->addMonitor(monitor); }
    Done addPort(std::string_view name, std::optional<std::string> target) override
    {
        return m->addPort(name, std::move(target));
    }
    Done addPrinter(const Printer& printer) override { return m->addPrinter(printer); }
    Done setPort(std::string_view printer, std::string_view port) override { return m->setPort(printer, port); }
    Done setDriver(std::string_view printer, std::string_view driver) override { return m->setDriver(printer, driver); }
    Done deletePrinter(std::string_view printer) override { return m->deletePrinter(printer); }
    Result<std::vector<QueueState>> queueStates() override { return m->queueStates(); }
    ChangeSource changeSource() override { return m->changeSource(); }
    Result<std::vector<Job>> jobs(std::string_view printer) override { return m->jobs(printer); }
    Done cancelJob(std::string_view printer, int id) override { return m->cancelJob(printer, id); }
    Done cancelAllJobs(std::string_view printer) override { return m->cancelAllJobs(printer); }

private:
    std::shared_ptr<CupsSpooler> m;
};

}  // namespace

Kind currentKind()
{
    static const Kind kind = decide();
    return kind;
}

const char* spoolerName(Kind kind) { return kind == Kind::Cups ? "CUPS" : "embedded"; }

const char* spoolerName() { return spoolerName(currentKind()); }

Result<std::unique_ptr<Spooler>> current()
{
    if (currentKind() == Kind::Embedded) return embedded();
    // One spooler per process, however many callers open it: at most one watcher and subscription,
    // started by the first caller that asks for changes; kept until the process exits, when its
    // destructor cancels the subscription.
    static std::mutex mutex;
    static std::shared_ptr<CupsSpooler> shared;
    std::lock_guard lock(mutex);
    if (!shared) {
        auto made = cups();
        if (!made) return made.error();
        shared = std::move(made).value();
    }
    return std::unique_ptr<Spooler>(new SharedCups(shared));
}

}  // namespace plat::spool
