// The spooler on a CUPS scheduler.
//
//   printers()      one CUPS-Get-Printers (local queues only) into a snapshot: kept current by the
//                   watcher once there is one, else read again when it is older than
//                   CupsOptions::snapshotLife; driver = printer-make-and-model, jobs = queued-job-count,
//                   status = bits from printer-state and its reasons, quality = the PPD's
//                   *DefaultResolution
//   port            velta:/dev/usb/lpN and parallel:/dev/lpN get an "LPTn:" name in the port map
//                   (target device:...), velta:<socket path> one whose target is the simulator's socket
//                   (sim:...), so the engine opens them by name; any other URI is the port as it is and
//                   is not monitorable
//   drivers()       one per distinct PPD of the queues that carries our keywords: *NickName,
//                   *VELTADriverFile, *VELTALanguageMonitor (*VELTALanguageMonitorFile is the monitor's
//                   library); PPDs are fetched with cupsGetPPD3 and kept until their time changes
//   printer data    in the registry store under the printer's key, as with the embedded spooler
//   jobs            submit: raw Print-Job held indefinitely; finish: Cancel-Job of the oldest
//   administration  CUPS-Add-Modify-Printer with the driver's PPD file, CUPS-Delete-Printer; drivers
//                   and monitors come from PPD files only
//   changes         started by the first changeCount() or waitForChange(): a watcher thread with its own
//                   connection holds one ippget subscription and asks for events every 500 ms; any event
//                   refreshes the snapshot once and moves the count on; while a queue prints the snapshot
//                   is also read every few seconds (alerts only). A process that never asks for changes
//                   (a detail program) holds no subscription and costs the scheduler nothing while idle.
//
// The engine and the spooler checks read a printer's "Port" and "Printer Driver", a driver's "Monitor"
// and a monitor's "Driver" from the store directly, so each refresh mirrors those values of the CUPS
// queues into the store (a printer key so written is marked "Spooler" = "CUPS"; when its queue goes,
// its "Port" and "Printer Driver" go, its printer data stays).

#include <cups/cups.h>
#include <cups/ppd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "facts/store_names.h"
#include "plat/base/utf8.h"
#include "plat/port/port.h"
#include "plat/spool/ppd_facts.h"
#include "plat/spool/spooler.h"
#include "plat/text/text.h"

namespace plat::spool {
namespace {

using registry::Key;
using registry::Root;
using registry::Status;
using registry::Store;
using registry::ValueType;
namespace value = facts::value;

using namespace std::chrono_literals;

constexpr int kLeaseSeconds = 3600;
constexpr std::size_t kMaxPrinterName = 197;  // as the embedded spooler: the store's key paths stay short
constexpr std::string_view kCupsMark = "CUPS";

const std::string kPrintersKey = std::string(facts::key::kPrinters.substr(0, facts::key::kPrinters.size() - 1));
const std::string kDriversKey = std::string(facts::key::kDrivers.substr(0, facts::key::kDrivers.size() - 1));
const std::string kMonitorsKey = std::string(facts::key::kMonitors.substr(0, facts::key::kMonitors.size() - 1));
const std::string kPortMapKey{facts::key::kPortMap};

const char* const kPrinterAttributes[] = {
    "printer-name",  "printer-make-and-model",    "device-uri",
    "printer-state", "printer-state-reasons",     "queued-job-count",
    "printer-alert", "printer-alert-description", "printer-info",
};

const char* const kEvents[] = {
    "printer-added", "printer-deleted", "printer-modified",  "printer-state-changed",
    "job-created",   "job-completed",   "job-state-changed",
};

Error failure(Failure code, std::string detail) { return Error{static_cast<int>(code), std::move(detail)}; }

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

struct HttpDeleter {
    void operator()(http_t* http) const { httpClose(http); }
};
using Http = std::unique_ptr<http_t, HttpDeleter>;

// What a failed request says, for a person.
std::string lastError(const std::string& what)
{
    const char* message = cupsLastErrorString();
    return what + ": " + (message != nullptr && *message != '\0' ? message : ippErrorString(cupsLastError()));
}

// A request failed because the scheduler could not be reached or did not answer.
bool transportFailure(ipp_status_t status)
{
    return status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL ||
           status == IPP_STATUS_ERROR_TIMEOUT;
}

Error requestFailure(const std::string& what)
{
    const ipp_status_t status = cupsLastError();
    if (status == IPP_STATUS_ERROR_NOT_FOUND) return failure(Failure::NotFound, lastError(what));
    if (transportFailure(status)) return failure(Failure::Unavailable, lastError(what));
    if (status == IPP_STATUS_ERROR_BAD_REQUEST || status == IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES ||
        status == IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED) {
        return failure(Failure::Invalid, lastError(what));
    }
    return failure(Failure::StoreError, lastError(what));
}

std::string printerUri(std::string_view name)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     std::string(name).c_str());
    return uri;
}

// The status bits a queue's state and reasons come to.
std::uint32_t statusBits(ipp_pstate_t state, const std::vector<std::string>& reasons)
{
    std::uint32_t bits = 0;
    if (state == IPP_PSTATE_PROCESSING) bits |= status::kPrinting;
    if (state == IPP_PSTATE_STOPPED) bits |= status::kPaused;
    for (std::string reason : reasons) {
        for (std::string_view suffix : {"-error", "-warning", "-report"}) {
            if (reason.size() > suffix.size() && reason.ends_with(suffix)) {
                if (suffix == "-error") bits |= status::kError;
                reason.resize(reason.size() - suffix.size());
                break;
            }
        }
        if (reason == "paused") bits |= status::kPaused;
        else if (reason == "media-empty" || reason == "media-needed") bits |= status::kPaperOut;
        else if (reason == "media-jam") bits |= status::kPaperJam;
        else if (reason == "offline") bits |= status::kOffline;
        else if (reason == "cover-open" || reason == "door-open") bits |= status::kDoorOpen;
    }
    return bits;
}

// Where a device URI leads, as a port-map target; nothing for a URI we do not serve.
std::optional<std::string> targetOf(std::string_view uri)
{
    auto pathAfter = [&](std::string_view scheme) -> std::optional<std::string_view> {
        if (!uri.starts_with(scheme)) return std::nullopt;
        std::string_view path = uri.substr(scheme.size());
        if (path.starts_with("///")) path.remove_prefix(2);  // velta:///dev/... as well as velta:/dev/...
        if (!path.starts_with("/") || path.starts_with("//")) return std::nullopt;
        return path;
    };
    if (auto path = pathAfter("velta:")) {
        if (path->starts_with("/dev/")) return "device:" + std::string(*path);
        return "sim:" + std::string(*path);  // the simulator's socket
    }
    if (auto path = pathAfter("parallel:"); path && path->starts_with("/dev/")) return "device:" + std::string(*path);
    return std::nullopt;
}

// A port-map target back to the device URI of our backend.
std::optional<std::string> uriOf(std::string_view target)
{
    if (target.starts_with("device:/")) return "velta:" + std::string(target.substr(7));
    if (target.starts_with("sim:/")) return "velta:" + std::string(target.substr(4));
    return std::nullopt;
}

// One queue as the last refresh saw it.
struct Queue {
    Printer printer;
    QueueState state;
    ipp_pstate_t pstate = IPP_PSTATE_IDLE;
};

struct Snapshot {
    bool available = false;
    std::string why;  // what failed, while not available
    std::vector<Queue> queues;
};

// The driver facts of a queue's PPD, with the time the scheduler gave it.
struct PpdEntry {
    time_t modified = 0;
    PpdFacts facts;
};

std::string textOf(ipp_attribute_t* attribute)
{
    if (attribute == nullptr) return {};
    if (ippGetValueTag(attribute) == IPP_TAG_STRING) {
        int length = 0;
        const void* data = ippGetOctetString(attribute, 0, &length);
        return data != nullptr ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(length)) : "";
    }
    const char* text = ippGetString(attribute, 0, nullptr);
    return text != nullptr ? text : "";
}

// Store names compare without regard to ASCII case.
std::string fold(std::string_view name)
{
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Drives a request's time-out: returning 0 gives the request up.
int giveUp(http_t*, void*) { return 0; }

class CupsSpoolerImpl final : public CupsSpooler {
public:
    CupsSpoolerImpl(Store& store, CupsOptions options) : m_options(std::move(options)), m_store(&store) {}

    ~CupsSpoolerImpl() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_watcher.joinable()) m_watcher.join();
    }

    // The first connection and snapshot; the watcher waits for the first question about changes.
    std::optional<Error> start()
    {
        if (m_options.server.empty()) {
            const char* server = cupsServer();
            m_options.server = server != nullptr ? server : "localhost";
        }
        m_port = ippPort();
        m_requests = connect();
        if (!m_requests)
            return failure(Failure::Unavailable,
                           "the CUPS scheduler at " + m_options.server + " does not answer: " + lastError("connect"));
        std::lock_guard lock(m_requestMutex);
        return refresh(m_requests.get(), true);
    }

    Result<std::vector<Printer>> printers() override
    {
        freshen();
        std::lock_guard lock(m_mutex);
        if (!m_snapshot.available) return failure(Failure::Unavailable, m_snapshot.why);
        std::vector<Printer> list;
        for (const Queue& q : m_snapshot.queues) list.push_back(q.printer);
        return list;
    }

    Result<Printer> printer(std::string_view name) override
    {
        freshen();
        {
            std::lock_guard lock(m_mutex);
            if (!m_snapshot.available) return failure(Failure::Unavailable, m_snapshot.why);
            for (const Queue& q : m_snapshot.queues)
                if (q.printer.name == name) return q.printer;
        }
        // Not in the snapshot: perhaps added a moment ago, and the watcher has not seen it yet.
        if (name.empty()) return failure(Failure::NotFound, "no printer \"\"");
        std::lock_guard lock(m_requestMutex);
        Ipp request(ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES));
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri(name).c_str());
        addRequestedAttributes(request.get());
        Ipp response(cupsDoRequest(m_requests.get(), request.release(), "/"));
        if (!response || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
            if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND)
                return failure(Failure::NotFound, "no printer \"" + std::string(name) + "\"");
            return requestFailure("Get-Printer-Attributes");
        }
        auto queues = readQueues(response.get());
        if (queues.empty()) return failure(Failure::NotFound, "no printer \"" + std::string(name) + "\"");
        return queues.front().printer;
    }

    Result<std::vector<Driver>> drivers() override
    {
        freshen();
        std::lock_guard lock(m_mutex);
        if (!m_snapshot.available) return failure(Failure::Unavailable, m_snapshot.why);
        std::vector<Driver> list;
        std::set<std::string> seen;
        for (const Queue& q : m_snapshot.queues) {
            auto it = m_ppds.find(q.printer.name);
            if (it == m_ppds.end() || !it->second.facts.ours()) continue;
            const PpdFacts& f = it->second.facts;
            if (seen.insert(f.nickName).second) list.push_back({f.nickName, f.driverFile, f.monitor});
        }
        return list;
    }

    Result<std::vector<std::string>> ports() override
    {
        std::vector<std::string> list;
        freshen();
        {
            std::lock_guard lock(m_mutex);
            if (!m_snapshot.available) return failure(Failure::Unavailable, m_snapshot.why);
            for (const Queue& q : m_snapshot.queues) list.push_back(q.printer.port);
        }
        // The ports added to the store, the mapped ones and "FILE:".
        if (auto local = registrySpooler()) {
            if (auto stored = local->ports()) list.insert(list.end(), stored.value().begin(), stored.value().end());
        }
        for (const auto& [name, target] : portMap()) list.push_back(name);
        std::vector<std::string> unique;
        for (auto& p : list) {
            const bool known = std::any_of(unique.begin(), unique.end(),
                                           [&](const std::string& u) { return text::equalWholeIgnoringCase(u, p); });
            if (!known) unique.push_back(std::move(p));
        }
        return unique;
    }

    // A job that waits, held, until finishJobs() or someone else lets it go: one raw byte.
    Done submitJobs(std::string_view printer, std::uint32_t count) override
    {
        {
            std::lock_guard lock(m_requestMutex);
            for (std::uint32_t i = 0; i < count; ++i) {
                Ipp request(ippNewRequest(IPP_OP_PRINT_JOB));
                ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                             printerUri(printer).c_str());
                ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                             cupsUser());
                ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                             "application/vnd.cups-raw");
                ippAddString(request.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", nullptr, "indefinite");
                // The printer's URI without scheme and host: the name escaped as in the URI.
                const std::string resource = printerUri(printer).substr(std::strlen("ipp://localhost"));
                // The document: one byte from a file of our own that nobody else can see.
                const int document = ::memfd_create("kestrel-job", MFD_CLOEXEC);
                if (document < 0 || ::write(document, "\n", 1) != 1 || ::lseek(document, 0, SEEK_SET) != 0) {
                    if (document >= 0) ::close(document);
                    return failure(Failure::StoreError, "cannot make the job's document");
                }
                Ipp response(cupsDoIORequest(m_requests.get(), request.release(), resource.c_str(), document, -1));
                ::close(document);
                if (!response || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
                    return requestFailure("Print-Job on \"" + std::string(printer) + "\"");
            }
        }
        return changed();
    }

    // Finishing a job cancels it: releasing it would send its byte to the printer.
    Done finishJobs(std::string_view printer, std::uint32_t count) override
    {
        {
            std::lock_guard lock(m_requestMutex);
            Ipp request(ippNewRequest(IPP_OP_GET_JOBS));
            ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         printerUri(printer).c_str());
            ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
            ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-id");
            Ipp response(cupsDoRequest(m_requests.get(), request.release(), "/"));
            if (!response || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
                return requestFailure("Get-Jobs on \"" + std::string(printer) + "\"");
            std::vector<int> ids;
            for (ipp_attribute_t* a = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER); a != nullptr;
                 a = ippFindNextAttribute(response.get(), "job-id", IPP_TAG_INTEGER)) {
                ids.push_back(ippGetInteger(a, 0));
            }
            std::sort(ids.begin(), ids.end());  // the oldest first
            if (ids.size() > count) ids.resize(count);
            for (int id : ids) {
                Ipp cancel(ippNewRequest(IPP_OP_CANCEL_JOB));
                ippAddString(cancel.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                             printerUri(printer).c_str());
                ippAddInteger(cancel.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
                ippAddString(cancel.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                             cupsUser());
                Ipp answer(cupsDoRequest(m_requests.get(), cancel.release(), "/jobs/"));
                // A job that ended meanwhile is finished all the same.
                if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE &&
                    cupsLastError() != IPP_STATUS_ERROR_NOT_POSSIBLE && cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
                    return requestFailure("Cancel-Job " + std::to_string(id));
                }
            }
        }
        return changed();
    }

    Done setPrinterData(std::string_view printer, std::string_view name, ValueType type,
                        std::span<const std::byte> data) override
    {
        if (auto refused = mirroredPrinter(printer)) return *refused;
        auto local = registrySpooler();
        if (!local) return failure(Failure::StoreError, "the registry store cannot be opened");
        return local->setPrinterData(printer, name, type, data);
    }

    Result<std::vector<std::byte>> printerData(std::string_view printer, std::string_view name) override
    {
        if (auto refused = mirroredPrinter(printer)) return *refused;
        auto local = registrySpooler();
        if (!local) return failure(Failure::StoreError, "the registry store cannot be opened");
        return local->printerData(printer, name);
    }

    std::uint64_t changeCount() override
    {
        ensureWatcher();
        return m_count.load();
    }

    bool waitForChange(std::uint64_t seen, std::chrono::milliseconds bound) override
    {
        ensureWatcher();
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, bound, [&] { return m_count.load() != seen; });
    }

    Done addDriver(const Driver&) override
    {
        return failure(Failure::Unsupported, "CUPS takes its drivers from PPD files: install the driver's PPD");
    }

    Done addMonitor(const Monitor&) override
    {
        return failure(Failure::Unsupported, "CUPS takes language monitors from PPD files: install the driver's PPD");
    }

    // Ports and the port map stay in the store.
    Done addPort(std::string_view name, std::optional<std::string> target) override
    {
        auto local = registrySpooler();
        if (!local) return failure(Failure::StoreError, "the registry store cannot be opened");
        auto done = local->addPort(name, std::move(target));
        if (done) bump();
        return done;
    }

    Done addPrinter(const Printer& p) override
    {
        if (p.name.empty() || p.name.size() > kMaxPrinterName || p.name.find('\\') != std::string::npos)
            return failure(Failure::Invalid, "a printer needs a name of 1.." + std::to_string(kMaxPrinterName) +
                                                 " bytes without a backslash");
        if (!isValidUtf8(p.name)) return failure(Failure::Invalid, "the printer name is not valid UTF-8");
        auto existing = printer(p.name);
        if (existing) return failure(Failure::Exists, "printer \"" + p.name + "\" exists already");
        if (existing.error().code != static_cast<int>(Failure::NotFound)) return existing.error();
        auto uri = deviceUri(p.port);
        if (!uri) return uri.error();
        auto ppd = ppdFile(p.driver);
        if (!ppd) return ppd.error();
        return modify(p.name, uri.value(), ppd.value(), true);
    }

    Done setPort(std::string_view printer, std::string_view port) override
    {
        if (auto missing = queueMissing(printer)) return *missing;
        auto uri = deviceUri(port);
        if (!uri) return uri.error();
        return modify(printer, uri.value(), "", false);
    }

    Done setDriver(std::string_view printer, std::string_view driver) override
    {
        if (auto missing = queueMissing(printer)) return *missing;
        auto ppd = ppdFile(driver);
        if (!ppd) return ppd.error();
        return modify(printer, "", ppd.value(), false);
    }

    Done deletePrinter(std::string_view printer) override
    {
        {
            std::lock_guard lock(m_requestMutex);
            Ipp request(ippNewRequest(IPP_OP_CUPS_DELETE_PRINTER));
            ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         printerUri(printer).c_str());
            ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
            Ipp response(cupsDoRequest(m_requests.get(), request.release(), "/admin/"));
            if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
                if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND)
                    return failure(Failure::NotFound, "no printer \"" + std::string(printer) + "\"");
                return requestFailure("CUPS-Delete-Printer \"" + std::string(printer) + "\"");
            }
        }
        // Everything under its key goes with it, as with the embedded spooler.
        if (m_store != nullptr && isValidUtf8(printer) && !printer.empty() &&
            printer.find('\\') == std::string_view::npos) {
            std::lock_guard lock(m_storeMutex);
            m_store->deleteKey(Root::LocalMachine, kPrintersKey + "\\" + std::string(printer));
        }
        return changed();
    }

    Result<std::vector<QueueState>> queueStates() override
    {
        freshen();
        std::lock_guard lock(m_mutex);
        if (!m_snapshot.available) return failure(Failure::Unavailable, m_snapshot.why);
        std::vector<QueueState> list;
        for (const Queue& q : m_snapshot.queues) list.push_back(q.state);
        return list;
    }

private:
    // The subscription and the watcher, once: subscribed here, so that a change made after the first
    // changeCount() returns is never missed; a scheduler that does not answer now is the watcher's to
    // wait for (it moves the count on when it is back).
    void ensureWatcher()
    {
        if (m_watching.load(std::memory_order_acquire)) return;
        std::lock_guard lock(m_watcherMutex);
        if (m_watching.load(std::memory_order_relaxed)) return;
        Http own = connect();
        bool lost = !own || !subscribe(own.get());
        // What changed before the subscription: the snapshot sees it now, and the count stands for it.
        if (!lost && refresh(own.get(), false)) lost = true;
        if (lost) {
            if (own) cancelSubscription(own.get());
            markLost();
            own.reset();
        }
        m_watcher = std::thread([this, lost, http = std::move(own)]() mutable { watch(std::move(http), lost); });
        m_watching.store(true, std::memory_order_release);
    }

    // Without a watcher, the snapshot is read again (one CUPS-Get-Printers, PPDs only of queues that are
    // new or whose driver changed) once it is older than its life; with one, the watcher keeps it.
    void freshen()
    {
        if (m_watching.load(std::memory_order_acquire)) return;
        {
            std::lock_guard lock(m_mutex);
            if (std::chrono::steady_clock::now() - m_refreshedAt < m_options.snapshotLife) return;
        }
        std::lock_guard lock(m_requestMutex);
        refresh(m_requests.get(), false);
    }

    Http connect() const
    {
        Http http(httpConnect2(m_options.server.c_str(), m_port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1,
                               static_cast<int>(m_options.connectTimeout.count()), nullptr));
        if (http)
            httpSetTimeout(http.get(), static_cast<double>(m_options.requestTimeout.count()) / 1000.0, giveUp, nullptr);
        return http;
    }

    static void addRequestedAttributes(ipp_t* request)
    {
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                      static_cast<int>(std::size(kPrinterAttributes)), nullptr, kPrinterAttributes);
    }

    // The queues of a response, in its order; ports are named from the current port map.
    std::vector<Queue> readQueues(ipp_t* response)
    {
        std::vector<Queue> queues;
        const auto map = portMap();
        ipp_attribute_t* a = ippFirstAttribute(response);
        while (a != nullptr) {
            while (a != nullptr && ippGetGroupTag(a) != IPP_TAG_PRINTER) a = ippNextAttribute(response);
            if (a == nullptr) break;
            Queue q;
            int jobs = 0;
            for (; a != nullptr && ippGetGroupTag(a) == IPP_TAG_PRINTER; a = ippNextAttribute(response)) {
                const char* name = ippGetName(a);
                if (name == nullptr) continue;
                const std::string_view n(name);
                if (n == "printer-name") q.printer.name = textOf(a);
                else if (n == "printer-make-and-model") q.printer.driver = textOf(a);
                else if (n == "device-uri") q.state.deviceUri = textOf(a);
                else if (n == "printer-info") q.state.info = textOf(a);
                else if (n == "printer-state") q.pstate = static_cast<ipp_pstate_t>(ippGetInteger(a, 0));
                else if (n == "queued-job-count") jobs = ippGetInteger(a, 0);
                else if (n == "printer-alert") q.state.alert = textOf(a);
                else if (n == "printer-alert-description") q.state.alertDescription = textOf(a);
                else if (n == "printer-state-reasons") {
                    for (int i = 0; i < ippGetCount(a); ++i) {
                        const char* r = ippGetString(a, i, nullptr);
                        if (r != nullptr && std::strcmp(r, "none") != 0) q.state.reasons.emplace_back(r);
                    }
                }
            }
            if (q.printer.name.empty()) continue;
            q.state.name = q.printer.name;
            q.state.processing = q.pstate == IPP_PSTATE_PROCESSING;
            q.state.stopped = q.pstate == IPP_PSTATE_STOPPED;
            q.printer.jobs = static_cast<std::uint32_t>(std::max(jobs, 0));
            q.printer.status = statusBits(q.pstate, q.state.reasons);
            q.printer.port = q.state.deviceUri;
            if (auto target = targetOf(q.state.deviceUri)) {
                for (const auto& [port, mapped] : map) {
                    if (mapped == *target) {
                        q.printer.port = port;
                        break;
                    }
                }
            }
            queues.push_back(std::move(q));
        }
        return queues;
    }

    // The port map of the store: name and target, in the store's order.
    std::vector<std::pair<std::string, std::string>> portMap()
    {
        std::vector<std::pair<std::string, std::string>> map;
        if (m_store == nullptr) return map;
        std::lock_guard lock(m_storeMutex);
        Key key;
        if (m_store->openKey(Root::LocalMachine, kPortMapKey, registry::Query, key) != Status::Ok) return map;
        auto values = key.values();
        if (!values) return map;
        for (const auto& v : values.value()) {
            const auto* chars = reinterpret_cast<const char*>(v.data.data());
            map.emplace_back(v.name, std::string(chars, strnlen(chars, v.data.size())));
        }
        return map;
    }

    // Gives every local device URI of the queues a port name ("LPT1:" and on) in the port map.
    void nameLocalPorts(const std::vector<Queue>& queues)
    {
        if (m_store == nullptr) return;
        auto map = portMap();
        auto local = registrySpooler();
        for (const Queue& q : queues) {
            auto target = targetOf(q.state.deviceUri);
            if (!target || !local) continue;
            const bool mapped = std::any_of(map.begin(), map.end(), [&](const auto& e) { return e.second == *target; });
            if (mapped) continue;
            for (int n = 1; n < 1000; ++n) {
                const std::string name = "LPT" + std::to_string(n) + ":";
                const bool taken = std::any_of(
                    map.begin(), map.end(), [&](const auto& e) { return text::equalWholeIgnoringCase(e.first, name); });
                if (taken) continue;
                if (local->addPort(name, *target)) map.emplace_back(name, *target);
                break;
            }
        }
    }

    // Writes a value only when it differs, so that a refresh that changes nothing writes nothing.
    void mirrorText(const std::string& key, std::string_view name, std::string_view text)
    {
        char buffer[1024];
        std::uint32_t size = 0;
        if (m_store->getValue(Root::LocalMachine, key, name, std::as_writable_bytes(std::span(buffer)), &size) ==
                Status::Ok &&
            std::string_view(buffer, strnlen(buffer, size)) == text) {
            return;
        }
        Key k;
        if (m_store->createKey(Root::LocalMachine, key, "", k) != Status::Ok) return;
        const std::string data(text);
        k.set(name, ValueType::String, std::as_bytes(std::span(data.c_str(), data.size() + 1)));
    }

    static bool storableName(std::string_view name)
    {
        return !name.empty() && name.size() <= kMaxPrinterName && name.find('\\') == std::string_view::npos &&
               isValidUtf8(name);
    }

    // The values the engine and the spooler checks read from the store, for every queue.
    void mirror(const std::vector<Queue>& queues, const std::map<std::string, PpdEntry>& ppds)
    {
        if (m_store == nullptr) return;
        std::lock_guard lock(m_storeMutex);
        m_store->atomically([&] {
            std::set<std::string> present;
            for (const Queue& q : queues) {
                if (!storableName(q.printer.name)) continue;
                present.insert(fold(q.printer.name));
                const std::string key = kPrintersKey + "\\" + q.printer.name;
                mirrorText(key, value::kPrinterPort, q.printer.port);
                mirrorText(key, value::kPrinterDriver, q.printer.driver);
                mirrorText(key, "Spooler", kCupsMark);
                Key data;
                m_store->createKey(Root::LocalMachine, key + std::string(facts::key::kDriverData), "", data);
                auto ppd = ppds.find(q.printer.name);
                if (ppd == ppds.end() || !ppd->second.facts.ours()) continue;
                const PpdFacts& f = ppd->second.facts;
                if (!storableName(f.nickName)) continue;
                mirrorText(kDriversKey + "\\" + f.nickName, value::kDriverPath, f.driverFile);
                mirrorText(kDriversKey + "\\" + f.nickName, value::kDriverMonitor, f.monitor);
                if (storableName(f.monitor))
                    mirrorText(kMonitorsKey + "\\" + f.monitor, value::kMonitorDriver, f.monitorFile);
            }
            // Queues that went: the engine sees the printer gone; its printer data stays.
            Key printers;
            if (m_store->openKey(Root::LocalMachine, kPrintersKey, registry::Query, printers) != Status::Ok)
                return Status::Ok;
            auto names = printers.subKeys();
            if (!names) return Status::Ok;
            for (const std::string& name : names.value()) {
                if (present.count(fold(name)) != 0) continue;
                const std::string key = kPrintersKey + "\\" + name;
                char mark[16];
                std::uint32_t size = 0;
                if (m_store->getValue(Root::LocalMachine, key, "Spooler", std::as_writable_bytes(std::span(mark)),
                                      &size) != Status::Ok ||
                    std::string_view(mark, strnlen(mark, size)) != kCupsMark) {
                    continue;  // the embedded spooler's own printer
                }
                Key k;
                if (m_store->openKey(Root::LocalMachine, key, registry::Set, k) != Status::Ok) continue;
                k.deleteValue(value::kPrinterPort);
                k.deleteValue(value::kPrinterDriver);
            }
            return Status::Ok;
        });
    }

    // One CUPS-Get-Printers into the snapshot; with `allPpds` every queue's PPD is asked for again
    // (cheap when it did not change), else only those of queues not seen before.
    std::optional<Error> refresh(http_t* http, bool allPpds)
    {
        std::lock_guard refreshing(m_refreshMutex);
        Ipp request(ippNewRequest(IPP_OP_CUPS_GET_PRINTERS));
        addRequestedAttributes(request.get());
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_ENUM, "printer-type", 0);
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_ENUM, "printer-type-mask",
                      CUPS_PRINTER_CLASS | CUPS_PRINTER_REMOTE | CUPS_PRINTER_DISCOVERED);
        Ipp response(cupsDoRequest(http, request.release(), "/"));
        // No printers at all comes as not-found.
        if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE && cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
            Error why = requestFailure("CUPS-Get-Printers");
            std::lock_guard lock(m_mutex);
            m_snapshot.available = false;
            m_snapshot.why = why.detail;
            // Tried just now: callers without a watcher ask again only after the snapshot's life.
            m_refreshedAt = std::chrono::steady_clock::now();
            return why;
        }
        std::vector<Queue> queues = response ? readQueues(response.get()) : std::vector<Queue>{};

        std::map<std::string, PpdEntry> ppds;
        std::map<std::string, std::string> drivers;  // each queue's make and model as last seen
        {
            std::lock_guard lock(m_mutex);
            ppds = m_ppds;
            for (const Queue& q : m_snapshot.queues) drivers.emplace(q.printer.name, q.printer.driver);
        }
        std::map<std::string, PpdEntry> kept;
        for (Queue& q : queues) {
            auto cached = ppds.find(q.printer.name);
            PpdEntry entry = cached != ppds.end() ? cached->second : PpdEntry{};
            // A new make and model means a new PPD, even when no event said so.
            auto seen = drivers.find(q.printer.name);
            const bool driverChanged = seen == drivers.end() || seen->second != q.printer.driver;
            if (allPpds || cached == ppds.end() || driverChanged) fetchPpd(http, q.printer.name, entry);
            q.printer.quality = entry.facts.quality;
            kept.emplace(q.printer.name, std::move(entry));
        }
        nameLocalPorts(queues);
        // Port names given just now.
        const auto map = portMap();
        for (Queue& q : queues) {
            auto target = targetOf(q.state.deviceUri);
            if (!target) continue;
            for (const auto& [port, mapped] : map)
                if (mapped == *target) {
                    q.printer.port = port;
                    break;
                }
        }
        mirror(queues, kept);
        {
            std::lock_guard lock(m_mutex);
            m_snapshot.available = true;
            m_snapshot.why.clear();
            m_snapshot.queues = std::move(queues);
            m_ppds = std::move(kept);
            m_refreshedAt = std::chrono::steady_clock::now();
        }
        return std::nullopt;
    }

    // The queue's PPD when it changed since `entry` was read; a queue without a PPD has no driver facts.
    void fetchPpd(http_t* http, const std::string& name, PpdEntry& entry)
    {
        char path[1024] = "";
        time_t modified = entry.modified;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        const http_status_t status = cupsGetPPD3(http, name.c_str(), &modified, path, sizeof path);
#pragma GCC diagnostic pop
        if (status == HTTP_STATUS_OK && path[0] != '\0') {
            entry.facts = parsePpd(path);
            // The time is in whole seconds: a PPD replaced again within the second it was written
            // would look unchanged, so a time that recent is not kept and the next refresh reads it
            // whole.
            entry.modified = std::time(nullptr) - modified >= 2 ? modified : 0;
        } else if (status != HTTP_STATUS_NOT_MODIFIED) {
            entry = PpdEntry{};
        }
        if (path[0] != '\0') ::unlink(path);  // our temporary copy (or link), never the PPD itself
    }

    bool subscribe(http_t* http)
    {
        Ipp request(ippNewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS));
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        ippAddStrings(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                      static_cast<int>(std::size(kEvents)), nullptr, kEvents);
        ippAddString(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr, "ippget");
        ippAddInteger(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", kLeaseSeconds);
        Ipp response(cupsDoRequest(http, request.release(), "/"));
        ipp_attribute_t* id =
            response ? ippFindAttribute(response.get(), "notify-subscription-id", IPP_TAG_INTEGER) : nullptr;
        if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE || id == nullptr) return false;
        m_subscription = ippGetInteger(id, 0);
        m_sequence = 1;
        m_renewAt = std::chrono::steady_clock::now() + std::chrono::seconds(kLeaseSeconds / 2);
        return true;
    }

    void cancelSubscription(http_t* http)
    {
        if (m_subscription <= 0) return;
        Ipp request(ippNewRequest(IPP_OP_CANCEL_SUBSCRIPTION));
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", m_subscription);
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        Ipp(cupsDoRequest(http, request.release(), "/"));
        m_subscription = 0;
    }

    bool renew(http_t* http)
    {
        Ipp request(ippNewRequest(IPP_OP_RENEW_SUBSCRIPTION));
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", m_subscription);
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        ippAddInteger(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", kLeaseSeconds);
        Ipp response(cupsDoRequest(http, request.release(), "/"));
        if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) return false;
        m_renewAt = std::chrono::steady_clock::now() + std::chrono::seconds(kLeaseSeconds / 2);
        return true;
    }

    enum class Poll { Nothing, Events, PrintersChanged, Lost, Gone };

    // One Get-Notifications from the next sequence number on.
    Poll poll(http_t* http)
    {
        Ipp request(ippNewRequest(IPP_OP_GET_NOTIFICATIONS));
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids", m_subscription);
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers", m_sequence);
        Ipp response(cupsDoRequest(http, request.release(), "/"));
        const ipp_status_t status = cupsLastError();
        if (!response || transportFailure(status)) return Poll::Lost;
        if (status > IPP_STATUS_OK_EVENTS_COMPLETE) return Poll::Gone;  // not-found: the subscription went
        bool any = false, printersChanged = false, gap = false;
        for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a != nullptr;
             a = ippNextAttribute(response.get())) {
            if (ippGetGroupTag(a) != IPP_TAG_EVENT_NOTIFICATION || ippGetName(a) == nullptr) continue;
            const std::string_view name(ippGetName(a));
            if (name == "notify-sequence-number") {
                const int sequence = ippGetInteger(a, 0);
                if (!any && sequence > m_sequence) gap = true;  // events were dropped before we asked
                any = true;
                m_sequence = std::max(m_sequence, sequence + 1);
            } else if (name == "notify-subscribed-event") {
                const char* event = ippGetString(a, 0, nullptr);
                if (event != nullptr &&
                    (std::strcmp(event, "printer-added") == 0 || std::strcmp(event, "printer-modified") == 0)) {
                    printersChanged = true;
                }
            }
        }
        if (gap) return Poll::PrintersChanged;
        if (printersChanged) return Poll::PrintersChanged;
        return any ? Poll::Events : Poll::Nothing;
    }

    void watch(Http http, bool lost)
    {
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                if (m_wake.wait_for(lock, m_options.poll, [&] { return m_stop; })) break;
            }
            if (lost) {
                // Back once the scheduler answers: a new subscription and everything read again.
                Http fresh = connect();
                if (!fresh || !subscribe(fresh.get())) continue;
                http = std::move(fresh);
                if (refresh(http.get(), true)) {
                    cancelSubscription(http.get());  // else each try would leave one behind
                    continue;
                }
                lost = false;
                bump();
                continue;
            }
            if (std::chrono::steady_clock::now() >= m_renewAt && !renew(http.get())) {
                if (!subscribe(http.get())) {
                    lost = markLost();
                    continue;
                }
                if (!refresh(http.get(), true)) bump();
                continue;
            }
            switch (poll(http.get())) {
            case Poll::Nothing:
                if (dueWhileProcessing()) refresh(http.get(), false);
                break;
            case Poll::Events:
                refresh(http.get(), false);
                bump();
                break;
            case Poll::PrintersChanged:
                refresh(http.get(), true);
                bump();
                break;
            case Poll::Gone:
                if (!subscribe(http.get())) {
                    lost = markLost();
                    break;
                }
                refresh(http.get(), true);
                bump();
                break;
            case Poll::Lost: lost = markLost(); break;
            }
        }
        if (!lost) cancelSubscription(http.get());
    }

    // A printing queue's alert moves on without an event; the count stays, as no state changed that
    // the count stands for, and queueStates() shows the new alert.
    bool dueWhileProcessing()
    {
        std::lock_guard lock(m_mutex);
        if (std::chrono::steady_clock::now() - m_refreshedAt < m_options.processingRefresh) return false;
        return std::any_of(m_snapshot.queues.begin(), m_snapshot.queues.end(),
                           [](const Queue& q) { return q.state.processing; });
    }

    // The scheduler went away: the snapshot says so until it is back.
    bool markLost()
    {
        {
            std::lock_guard lock(m_mutex);
            m_snapshot.available = false;
            m_snapshot.why = "the CUPS scheduler at " + m_options.server + " does not answer";
        }
        m_subscription = 0;
        bump();
        return true;
    }

    void bump()
    {
        {
            std::lock_guard lock(m_mutex);
            ++m_count;
        }
        m_changed.notify_all();
    }

    // A change of our own: the snapshot shows it before the call returns (with the PPDs read again
    // when the change may have replaced one).
    Done changed(bool ppds = false)
    {
        {
            std::lock_guard lock(m_requestMutex);
            refresh(m_requests.get(), ppds);
        }
        bump();
        return true;
    }

    std::optional<Error> queueMissing(std::string_view printer)
    {
        auto found = this->printer(printer);
        if (!found) return found.error();
        return std::nullopt;
    }

    // Printer data lives under a queue's key in the store; a name the store cannot hold has none.
    std::optional<Error> mirroredPrinter(std::string_view printer)
    {
        if (!storableName(printer)) return failure(Failure::Invalid, "the printer name cannot be kept in the store");
        return queueMissing(printer);
    }

    // The device URI a port name stands for: our backend for a mapped port, else a URI given as such.
    Result<std::string> deviceUri(std::string_view port)
    {
        for (const auto& [name, target] : portMap()) {
            if (!text::equalWholeIgnoringCase(name, port)) continue;
            if (auto uri = uriOf(target)) return *uri;
            return failure(Failure::Invalid, "port \"" + std::string(port) + "\" leads to no device");
        }
        const auto colon = port.find(':');
        if (colon != std::string_view::npos && colon > 0 && port.size() > colon + 1) return std::string(port);
        return failure(Failure::NotFound, "no port \"" + std::string(port) + "\"");
    }

    // The PPD file whose *NickName is the driver's name: $KESTREL_PPD_DIR, else where the package
    // installs ours.
    Result<std::string> ppdFile(std::string_view driver)
    {
        std::vector<std::filesystem::path> folders;
        if (const char* dir = std::getenv("KESTREL_PPD_DIR"); dir != nullptr && *dir != '\0') folders.emplace_back(dir);
        folders.emplace_back("/usr/share/ppd/velta-kestrel");
        folders.emplace_back("/usr/local/share/ppd/velta-kestrel");
        for (const auto& folder : folders) {
            std::error_code error;
            for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
                if (entry.path().extension() != ".ppd" || !entry.is_regular_file(error)) continue;
                if (parsePpd(entry.path().c_str()).nickName == driver) return entry.path().string();
            }
        }
        return failure(Failure::NotFound, "no driver \"" + std::string(driver) + "\" (no PPD file names it)");
    }

    // CUPS-Add-Modify-Printer: the device URI and the PPD where given; a new queue is enabled.
    Done modify(std::string_view printer, const std::string& uri, const std::string& ppd, bool enable)
    {
        {
            std::lock_guard lock(m_requestMutex);
            Ipp request(ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER));
            ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         printerUri(printer).c_str());
            ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
            if (!uri.empty())
                ippAddString(request.get(), IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, uri.c_str());
            if (enable) {
                ippAddBoolean(request.get(), IPP_TAG_PRINTER, "printer-is-accepting-jobs", 1);
                ippAddInteger(request.get(), IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_IDLE);
            }
            Ipp response(
                cupsDoFileRequest(m_requests.get(), request.release(), "/admin/", ppd.empty() ? nullptr : ppd.c_str()));
            if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
                return requestFailure("CUPS-Add-Modify-Printer \"" + std::string(printer) + "\"");
        }
        return changed(!ppd.empty());
    }

    // The embedded spooler on the same store: ports, the port map and printer data.
    std::unique_ptr<Spooler> registrySpooler()
    {
        auto local = embedded(*m_store);
        return local ? std::move(local).value() : nullptr;
    }

    CupsOptions m_options;
    int m_port = 631;
    Store* m_store = nullptr;
    std::mutex m_storeMutex;  // our own read-modify-write of the store

    std::mutex m_requestMutex;  // m_requests belongs to one caller at a time
    Http m_requests;
    std::mutex m_refreshMutex;  // one refresh at a time, so an older answer never replaces a newer one

    std::mutex m_mutex;  // the snapshot, the PPD cache, the count and m_stop
    Snapshot m_snapshot;
    std::map<std::string, PpdEntry> m_ppds;
    std::chrono::steady_clock::time_point m_refreshedAt;
    std::atomic<std::uint64_t> m_count{1};
    std::condition_variable m_changed;
    std::condition_variable m_wake;
    bool m_stop = false;

    std::mutex m_watcherMutex;  // the start of the watcher
    std::atomic<bool> m_watching{false};

    // The watcher thread's own.
    int m_subscription = 0;
    int m_sequence = 1;
    std::chrono::steady_clock::time_point m_renewAt;
    std::thread m_watcher;
};

}  // namespace

Result<std::unique_ptr<CupsSpooler>> cups(Store& store, const CupsOptions& options)
{
    auto spooler = std::make_unique<CupsSpoolerImpl>(store, options);
    if (auto refused = spooler->start()) return *refused;
    return std::unique_ptr<CupsSpooler>(std::move(spooler));
}

}  // namespace plat::spool
