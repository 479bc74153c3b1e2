// The spooler on a CUPS scheduler.
//
//   printers()      one CUPS-Get-Printers (local queues only) into a snapshot: kept current by the
//                   watcher once there is one, else read again when it is older than
//                   CupsOptions::snapshotLife; driver = printer-make-and-model, jobs = queued-job-count,
//                   status = bits from printer-state and its reasons, quality = the PPD's
//                   *DefaultResolution
//   port            velta:/dev/usb/lpN and parallel:/dev/lpN get an "LPTn:" name in the port map
//                   (target device:...), velta://MAKE/MODEL?serial=S one whose target finds that printer
//                   by its device ID among the nodes of CupsOptions::deviceFolder (id:...), velta:<socket
//                   path> one whose target is the simulator's socket (sim:...), so the engine opens them
//                   by name; any other URI is the port as it is and is not monitorable
//   drivers()       one per distinct PPD of the queues that carries our keywords: *NickName,
//                   *VELTADriverFile, *VELTALanguageMonitor (*VELTALanguageMonitorFile is the monitor's
//                   library); PPDs are fetched with cupsGetPPD3 and kept until their time changes
//   printer data    in the registry store under the printer's key, as with the embedded spooler
//   jobs            submit: raw Print-Job held indefinitely; finish: Cancel-Job of the oldest
//   administration  CUPS-Add-Modify-Printer with the driver's PPD file, CUPS-Delete-Printer; drivers
//                   and monitors come from PPD files only
//   changes         started by the first changeCount() or waitForChange(): a watcher thread with its own
//                   connection holds one subscription. Where the scheduler is local and a system bus
//                   exists, it is a dbus:// one and the watcher sleeps on the bus until the scheduler's
//                   D-Bus notifier (or cupsd itself) signals; otherwise it is pulled, every 5 s, every 1 s
//                   while a job of one of our queues prints. Any event refreshes the snapshot once and
//                   moves the count on; while a queue prints the snapshot is also read every few seconds
//                   (alerts only). A process that never asks for changes (a detail program) holds no
//                   subscription and costs the scheduler nothing while idle.
//
// The engine and the spooler checks read a printer's "Port" and "Printer Driver", a driver's "Monitor"
// and a monitor's "Driver" from the store directly, so each refresh mirrors those values of the CUPS
// queues into the store (a printer key so written is marked "Spooler" = "CUPS"; when its queue goes,
// its "Port" and "Printer Driver" go, its printer data stays).

#include <cups/cups.h>
#include <poll.h>
#include <sys/eventfd.h>
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

#include "bus_signals.h"
#include "facts/store_names.h"
#include "plat/base/thread_name.h"
#include "plat/base/trace.h"
#include "plat/base/utf8.h"
#include "plat/port/device_id.h"
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

using Clock = std::chrono::steady_clock;

constexpr int kLeaseSeconds = 3600;
// How long the watcher gathers a burst of D-Bus notices before it reads the scheduler once.
constexpr std::chrono::milliseconds kSettle{100};
constexpr std::size_t kMaxPrinterName = 197;  // as the embedded spooler: the store's key paths stay short
constexpr std::string_view kCupsMark = "CUPS";

const std::string kPrintersKey = std::string(facts::key::kPrinters.substr(0, facts::key::kPrinters.size() - 1));
const std::string kDriversKey = std::string(facts::key::kDrivers.substr(0, facts::key::kDrivers.size() - 1));
const std::string kMonitorsKey = std::string(facts::key::kMonitors.substr(0, facts::key::kMonitors.size() - 1));
const std::string kPortMapKey{facts::key::kPortMap};
const std::string kPrintKey{facts::key::kPrint};
// The session's published CUPS changes (see publishedCount() below): a count under the Print key, and a key
// with one value per process whose watcher runs (name: the pid; data: its start time).
constexpr std::string_view kPublishedChanges = "CupsChanges";
const std::string kWatchersKey = kPrintKey + "\\CupsWatchers";
// How often a reader looks for a running watcher at most.
constexpr std::chrono::milliseconds kWatchersCheck{1000};

const char* const kPrinterAttributes[] = {
    "printer-name",          "printer-make-and-model", "device-uri",    "printer-state",
    "printer-state-reasons", "queued-job-count",       "printer-alert", "printer-alert-description",
    "printer-info",          "marker-names",           "marker-types",  "marker-colors",
    "marker-levels",
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
    if (status == IPP_STATUS_ERROR_FORBIDDEN || status == IPP_STATUS_ERROR_NOT_AUTHORIZED ||
        status == IPP_STATUS_ERROR_NOT_AUTHENTICATED || status == IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED) {
        return failure(Failure::Refused, lastError(what));
    }
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

// Where a device URI leads, as a port-map target; nothing for a URI we do not serve. A printer named
// by its identity is looked for among the nodes of `deviceFolder`.
std::optional<std::string> targetOf(std::string_view uri, const std::string& deviceFolder)
{
    if (auto identity = port::identityOfUri(uri)) return port::targetOfIdentity(deviceFolder, *identity);
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

// The queue a printer URI names ("ipp://host/printers/NAME", the name decoded).
std::optional<std::string> queueOfUri(const char* uri)
{
    if (uri == nullptr) return std::nullopt;
    char scheme[32], user[256], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host, sizeof host, &port,
                        resource, sizeof resource) < HTTP_URI_STATUS_OK) {
        return std::nullopt;
    }
    for (std::string_view folder : {"/printers/", "/classes/"}) {
        const std::string_view r(resource);
        if (r.starts_with(folder) && r.size() > folder.size()) return std::string(r.substr(folder.size()));
    }
    return std::nullopt;
}

// A port-map target back to the device URI of our backend.
std::optional<std::string> uriOf(std::string_view target)
{
    if (target.starts_with("device:/")) return "velta:" + std::string(target.substr(7));
    if (target.starts_with("sim:/")) return "velta:" + std::string(target.substr(4));
    if (auto identified = port::parseIdentityTarget(target)) return port::uriOfIdentity(identified->identity);
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

// When process `pid` started (field 22 of /proc/PID/stat, in clock ticks since boot): with the pid it
// names one process, as a pid alone may be reused. Empty when there is no such process.
std::string processStart(int pid)
{
    if (pid <= 0) return {};
    std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "re");
    if (file == nullptr) return {};
    char buffer[1024];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    const std::string_view stat(buffer, n);
    // The command name in parentheses may hold blanks; the fields count from its closing one.
    std::size_t at = stat.rfind(')');
    if (at == std::string_view::npos) return {};
    for (int field = 2; field < 22 && at != std::string_view::npos; ++field) at = stat.find(' ', at + 1);
    if (at == std::string_view::npos) return {};
    const std::size_t end = stat.find(' ', at + 1);
    return std::string(stat.substr(at + 1, end == std::string_view::npos ? std::string_view::npos : end - at - 1));
}

// Drives a request's time-out: returning 0 gives the request up.
int giveUp(http_t*, void*) { return 0; }

class CupsSpoolerImpl final : public CupsSpooler {
public:
    CupsSpoolerImpl(Store& store, CupsOptions options)
        : m_options(std::move(options)), m_store(&store), m_stopFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
    }

    ~CupsSpoolerImpl() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_stopFd, &one, sizeof one);
        if (m_watcher.joinable()) {
            m_watcher.join();
            enterWatcher(false);
        }
        if (m_stopFd >= 0) ::close(m_stopFd);
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

    Result<std::vector<Job>> jobs(std::string_view printer) override
    {
        std::lock_guard lock(m_requestMutex);
        return listJobs(printer);
    }

    // One Get-Jobs (m_requestMutex held).
    Result<std::vector<Job>> listJobs(std::string_view printer)
    {
        static const char* const kJobAttributes[] = {"job-id",       "job-name",  "job-originating-user-name",
                                                     "job-k-octets", "job-state", "time-at-creation"};
        Ipp request(ippNewRequest(IPP_OP_GET_JOBS));
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     printerUri(printer).c_str());
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
        ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                      static_cast<int>(std::size(kJobAttributes)), nullptr, kJobAttributes);
        Ipp response(cupsDoRequest(m_requests.get(), request.release(), "/"));
        if (!response || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
            if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND)
                return failure(Failure::NotFound, "no printer \"" + std::string(printer) + "\"");
            return requestFailure("Get-Jobs on \"" + std::string(printer) + "\"");
        }
        std::vector<Job> list;
        for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a != nullptr;) {
            while (a != nullptr && ippGetGroupTag(a) != IPP_TAG_JOB) a = ippNextAttribute(response.get());
            if (a == nullptr) break;
            Job job;
            for (; a != nullptr && ippGetGroupTag(a) == IPP_TAG_JOB; a = ippNextAttribute(response.get())) {
                const char* name = ippGetName(a);
                if (name == nullptr) continue;
                const std::string_view n(name);
                if (n == "job-id") job.id = ippGetInteger(a, 0);
                else if (n == "job-name") job.name = textOf(a);
                else if (n == "job-originating-user-name") job.owner = textOf(a);
                else if (n == "job-k-octets")
                    job.kilobytes = static_cast<std::uint32_t>(std::max(ippGetInteger(a, 0), 0));
                else if (n == "job-state") job.state = jobState(static_cast<ipp_jstate_t>(ippGetInteger(a, 0)));
                else if (n == "time-at-creation") job.submitted = ippGetInteger(a, 0);
            }
            if (job.id > 0) list.push_back(std::move(job));
        }
        std::sort(list.begin(), list.end(), [](const Job& x, const Job& y) { return x.id < y.id; });
        return list;
    }

    Done cancelJob(std::string_view printer, int id) override
    {
        {
            std::lock_guard lock(m_requestMutex);
            if (auto refused = cancel(printer, id)) return *refused;
        }
        return changed();
    }

    Done cancelAllJobs(std::string_view printer) override
    {
        std::optional<Error> refused;
        {
            std::lock_guard lock(m_requestMutex);
            refused = cancelEveryJob(printer);
        }
        changed();
        if (refused) return *refused;
        return true;
    }

    ChangeSource changeSource() override
    {
        std::lock_guard lock(m_mutex);
        return m_source;
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
    static Job::State jobState(ipp_jstate_t state)
    {
        switch (state) {
        case IPP_JSTATE_PENDING: return Job::State::Pending;
        case IPP_JSTATE_HELD: return Job::State::Held;
        case IPP_JSTATE_PROCESSING: return Job::State::Processing;
        case IPP_JSTATE_STOPPED: return Job::State::Stopped;
        case IPP_JSTATE_CANCELED: return Job::State::Cancelled;
        case IPP_JSTATE_ABORTED: return Job::State::Aborted;
        case IPP_JSTATE_COMPLETED: return Job::State::Completed;
        }
        return Job::State::Pending;
    }

    // One Cancel-Job (m_requestMutex held). A job that ended meanwhile is cancelled all the same.
    std::optional<Error> cancel(std::string_view printer, int id)
    {
        Ipp request(ippNewRequest(IPP_OP_CANCEL_JOB));
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     printerUri(printer).c_str());
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        Ipp response(cupsDoRequest(m_requests.get(), request.release(), "/jobs/"));
        const ipp_status_t status = cupsLastError();
        if (status <= IPP_STATUS_OK_EVENTS_COMPLETE || status == IPP_STATUS_ERROR_NOT_POSSIBLE ||
            status == IPP_STATUS_ERROR_NOT_FOUND) {
            return std::nullopt;
        }
        return requestFailure("Cancel-Job " + std::to_string(id));
    }

    // Every job of the queue at once where the scheduler allows it, else one by one (m_requestMutex
    // held). Nothing when every job went; what the scheduler said when some stay.
    std::optional<Error> cancelEveryJob(std::string_view printer)
    {
        for (ipp_op_t op : {IPP_OP_CANCEL_JOBS, IPP_OP_PURGE_JOBS}) {
            Ipp request(ippNewRequest(op));
            ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         printerUri(printer).c_str());
            ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
            Ipp response(cupsDoRequest(m_requests.get(), request.release(), "/admin/"));
            const ipp_status_t status = cupsLastError();
            if (status <= IPP_STATUS_OK_EVENTS_COMPLETE) return std::nullopt;
            if (status == IPP_STATUS_ERROR_NOT_FOUND)
                return failure(Failure::NotFound, "no printer \"" + std::string(printer) + "\"");
            if (transportFailure(status)) return requestFailure("Cancel-Jobs");
            // An older scheduler without Cancel-Jobs: Purge-Jobs. A refusal: one by one below.
            if (status != IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED) break;
        }
        // One by one: the user's own jobs go, other users' may be refused.
        auto listed = listJobs(printer);
        if (!listed) return listed.error();
        std::size_t stay = 0;
        std::optional<Error> why;
        for (const Job& job : listed.value()) {
            if (auto refused = cancel(printer, job.id)) {
                ++stay;
                if (!why) why = *refused;
            }
        }
        if (!why) return std::nullopt;
        why->detail = std::to_string(stay) + " of " + std::to_string(listed.value().size()) +
                      " jobs could not be cancelled: " + why->detail;
        return why;
    }

    // The subscription and the watcher, once: subscribed here, so that a change made after the first
    // changeCount() returns is never missed; a scheduler that does not answer now is the watcher's to
    // wait for (it moves the count on when it is back).
    void ensureWatcher()
    {
        if (m_watching.load(std::memory_order_acquire)) return;
        std::lock_guard lock(m_watcherMutex);
        if (m_watching.load(std::memory_order_relaxed)) return;
        Http own = connect();
        std::unique_ptr<BusSignals> bus;
        bool lost = !own || !subscribeForChanges(own.get(), bus);
        // What changed before the subscription: the snapshot sees it now, and the count stands for it.
        if (!lost && refresh(own.get(), false)) lost = true;
        if (lost) {
            if (own) cancelSubscription(own.get());
            markLost();
            own.reset();
            bus.reset();
        }
        m_watcher = std::thread([this, lost, http = std::move(own), bus = std::move(bus)]() mutable {
            plat::nameThisThread("cups-watch");
            watch(std::move(http), std::move(bus), lost);
        });
        m_watching.store(true, std::memory_order_release);
        enterWatcher(true);
    }

    // With a watcher, the watcher keeps the snapshot. Without one, the snapshot is read again (one
    // CUPS-Get-Printers, PPDs only of queues that are new or whose driver changed) when the session's
    // published change count moved while a watcher of the session runs (the list program's, say),
    // else once it is older than its life. The count is one store read, looked at on every call: a
    // caller that asks because it saw a change must see it (the list reads job counts through its
    // services library the moment its own watcher moves on). Whether a watcher runs is looked at every
    // kWatchersCheck at most.
    void freshen()
    {
        if (m_watching.load(std::memory_order_acquire)) return;
        const auto now = Clock::now();
        bool watched = false, checkWatchers = false;
        {
            std::lock_guard lock(m_mutex);
            checkWatchers = now - m_watchersCheckedAt >= kWatchersCheck;
            if (checkWatchers) m_watchersCheckedAt = now;
            watched = m_watched;
            if (!checkWatchers && !watched && now - m_refreshedAt < m_options.snapshotLife) return;
        }
        if (checkWatchers) watched = watcherRuns();
        const std::uint32_t count = watched ? publishedCount() : 0;
        {
            std::lock_guard lock(m_mutex);
            m_watched = watched;
            if (watched && count == m_publishedSeen && m_snapshot.available) return;
            if (!watched && now - m_refreshedAt < m_options.snapshotLife) return;
        }
        std::lock_guard lock(m_requestMutex);
        refresh(m_requests.get(), false);
        std::lock_guard lock2(m_mutex);
        m_publishedSeen = count;
    }

    // The session's published changes: every spooler moves the count on with each change it sees or
    // makes; each watcher enters its process while it runs, so that readers know the count is kept.
    std::uint32_t publishedCount()
    {
        if (m_store == nullptr) return 0;
        std::lock_guard lock(m_storeMutex);
        std::uint32_t count = 0, size = 0;
        if (m_store->getValue(Root::LocalMachine, kPrintKey, kPublishedChanges,
                              std::as_writable_bytes(std::span(&count, 1)), &size) != Status::Ok ||
            size != sizeof count) {
            return 0;
        }
        return count;
    }

    bool watcherRuns()
    {
        if (m_store == nullptr) return false;
        std::lock_guard lock(m_storeMutex);
        Key watchers;
        if (m_store->openKey(Root::LocalMachine, kWatchersKey, registry::Query, watchers) != Status::Ok) return false;
        auto values = watchers.values();
        if (!values) return false;
        for (const auto& v : values.value()) {
            const std::string start(reinterpret_cast<const char*>(v.data.data()),
                                    strnlen(reinterpret_cast<const char*>(v.data.data()), v.data.size()));
            if (!start.empty() && processStart(std::atoi(v.name.c_str())) == start) return true;
        }
        return false;
    }

    void publishChange()
    {
        if (m_store == nullptr) return;
        std::lock_guard lock(m_storeMutex);
        m_store->atomically([&] {
            std::uint32_t count = 0, size = 0;
            m_store->getValue(Root::LocalMachine, kPrintKey, kPublishedChanges,
                              std::as_writable_bytes(std::span(&count, 1)), &size);
            Key key;
            if (m_store->createKey(Root::LocalMachine, kPrintKey, "", key) != Status::Ok) return Status::Ok;
            return key.setDword(kPublishedChanges, count + 1);
        });
    }

    // Enters this process as a watcher of the session, or takes it out again.
    void enterWatcher(bool running)
    {
        if (m_store == nullptr) return;
        const std::string pid = std::to_string(::getpid()), start = processStart(::getpid());
        std::lock_guard lock(m_storeMutex);
        Key key;
        if (running) {
            if (m_store->createKey(Root::LocalMachine, kWatchersKey, "", key) != Status::Ok) return;
            key.set(pid, ValueType::String, std::as_bytes(std::span(start.c_str(), start.size() + 1)));
        } else if (m_store->openKey(Root::LocalMachine, kWatchersKey, registry::Set, key) == Status::Ok) {
            key.deleteValue(pid);
        }
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

    // One marker-* attribute into the markers it describes, by position.
    static void readMarkers(std::string_view name, ipp_attribute_t* a, std::vector<QueueState::Marker>& markers)
    {
        const int count = ippGetCount(a);
        if (count <= 0) return;
        if (markers.size() < static_cast<std::size_t>(count)) markers.resize(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            QueueState::Marker& m = markers[static_cast<std::size_t>(i)];
            if (name == "marker-levels") {
                const int level = ippGetInteger(a, i);
                m.level = level >= 0 && level <= 100 ? level : -1;
                continue;
            }
            const char* text = ippGetString(a, i, nullptr);
            if (text == nullptr) continue;
            if (name == "marker-names") m.name = text;
            else if (name == "marker-types") m.type = text;
            else if (name == "marker-colors") m.color = text;
        }
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
                else if (n.starts_with("marker-")) readMarkers(n, a, q.state.markers);
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
            if (auto target = targetOf(q.state.deviceUri, m_options.deviceFolder)) {
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
            auto target = targetOf(q.state.deviceUri, m_options.deviceFolder);
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
    // Count::Move moves the change count on with the new snapshot, under the same lock, so that whoever
    // sees the change in the snapshot sees the count moved too.
    enum class Count { Keep, Move };
    std::optional<Error> refresh(http_t* http, bool allPpds, Count count = Count::Keep)
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
            // Published first: whoever sees our count move (the list, then reading job counts through
            // its services library) must find the store's count moved already.
            if (count == Count::Move) publishChange();
            {
                std::lock_guard lock(m_mutex);
                m_snapshot.available = false;
                m_snapshot.why = why.detail;
                // Tried just now: callers without a watcher ask again only after the snapshot's life.
                m_refreshedAt = std::chrono::steady_clock::now();
                if (count == Count::Move) ++m_count;
            }
            if (count == Count::Move) m_changed.notify_all();
            return why;
        }
        std::vector<Queue> queues = response ? readQueues(response.get()) : std::vector<Queue>{};
        countJobs(http, queues);

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
            auto target = targetOf(q.state.deviceUri, m_options.deviceFolder);
            if (!target) continue;
            for (const auto& [port, mapped] : map)
                if (mapped == *target) {
                    q.printer.port = port;
                    break;
                }
        }
        mirror(queues, kept);
        if (count == Count::Move) publishChange();  // first, as above
        {
            std::lock_guard lock(m_mutex);
            m_snapshot.available = true;
            m_snapshot.why.clear();
            m_snapshot.queues = std::move(queues);
            m_ppds = std::move(kept);
            m_refreshedAt = std::chrono::steady_clock::now();
            if (count == Count::Move) ++m_count;
        }
        if (count == Count::Move) m_changed.notify_all();
        return std::nullopt;
    }

    // queued-job-count still counts a job that has completed until the scheduler has reaped its backend,
    // which can be after the events of its completion: a refresh right after them would keep a job
    // that is gone. So where a queue has jobs, they are counted from the jobs not completed (one
    // Get-Jobs for every queue; none while no queue has any).
    void countJobs(http_t* http, std::vector<Queue>& queues)
    {
        if (std::none_of(queues.begin(), queues.end(), [](const Queue& q) { return q.printer.jobs > 0; })) return;
        Ipp request(ippNewRequest(IPP_OP_GET_JOBS));
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                     "job-printer-uri");
        Ipp response(cupsDoRequest(http, request.release(), "/"));
        if (!response || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) return;  // the counts stay as given
        std::map<std::string, std::uint32_t> counts;
        for (ipp_attribute_t* a = ippFindAttribute(response.get(), "job-printer-uri", IPP_TAG_URI); a != nullptr;
             a = ippFindNextAttribute(response.get(), "job-printer-uri", IPP_TAG_URI)) {
            if (auto name = queueOfUri(ippGetString(a, 0, nullptr))) ++counts[*name];
        }
        for (Queue& q : queues) {
            auto counted = counts.find(q.printer.name);
            q.printer.jobs = counted != counts.end() ? counted->second : 0;
        }
    }

    // The queue's PPD when it changed since `entry` was read; a queue without a PPD has no driver facts.
    // A plain HTTP GET of the scheduler's copy, If-Modified-Since the time we have, into a file of our
    // own that nobody else can see.
    void fetchPpd(http_t* http, const std::string& name, PpdEntry& entry)
    {
        const int file = ::memfd_create("kestrel-ppd", MFD_CLOEXEC);
        if (file < 0) return;
        time_t modified = entry.modified;
        const http_status_t status = getPpd(http, name, modified, file);
        if (status == HTTP_STATUS_OK) {
            entry.facts = parsePpd(("/proc/self/fd/" + std::to_string(file)).c_str());
            // The time is in whole seconds: a PPD replaced again within the second it was written
            // would look unchanged, so a time that recent is not kept and the next refresh reads it
            // whole.
            entry.modified = std::time(nullptr) - modified >= 2 ? modified : 0;
        } else if (status != HTTP_STATUS_NOT_MODIFIED) {
            entry = PpdEntry{};
        }
        ::close(file);
    }

    // GET /printers/NAME.ppd into `file`: 200 with `modified` set to the file's time, 304 when it is
    // no newer than `modified`, or what else the scheduler answered (404 for a queue without one).
    http_status_t getPpd(http_t* http, const std::string& name, time_t& modified, int file)
    {
        const std::string resource = printerUri(name).substr(std::strlen("ipp://localhost")) + ".ppd";
        char since[256] = "";
        if (modified > 0) httpGetDateString2(modified, since, sizeof since);
        http_status_t status = HTTP_STATUS_ERROR;
        for (int attempt = 0; attempt < 2; ++attempt) {
            httpClearFields(http);
            httpSetField(http, HTTP_FIELD_IF_MODIFIED_SINCE, since);
            if (httpGet(http, resource.c_str()) != 0) {
                // A connection the scheduler closed while idle: once more on a new one.
                if (httpReconnect2(http, static_cast<int>(m_options.connectTimeout.count()), nullptr) != 0) break;
                continue;
            }
            while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
            }
            break;
        }
        if (status != HTTP_STATUS_OK) {
            httpFlush(http);
            return status;
        }
        char buffer[8192];
        ssize_t n;
        bool whole = true;
        while ((n = httpRead2(http, buffer, sizeof buffer)) > 0) {
            if (::write(file, buffer, static_cast<std::size_t>(n)) != n) whole = false;
        }
        if (n < 0 || !whole || ::lseek(file, 0, SEEK_SET) != 0) return HTTP_STATUS_ERROR;
        modified = httpGetDateTime(httpGetField(http, HTTP_FIELD_LAST_MODIFIED));
        return HTTP_STATUS_OK;
    }

    // Create-Printer-Subscriptions for our events: pulled with Get-Notifications (`recipient` null)
    // or sent to a notifier ("dbus://"). The subscription's id, or nothing.
    std::optional<int> subscribe(http_t* http, const char* recipient = nullptr)
    {
        Ipp request(ippNewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS));
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        ippAddStrings(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                      static_cast<int>(std::size(kEvents)), nullptr, kEvents);
        if (recipient != nullptr)
            ippAddString(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_URI, "notify-recipient-uri", nullptr, recipient);
        else
            ippAddString(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr, "ippget");
        ippAddInteger(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", kLeaseSeconds);
        Ipp response(cupsDoRequest(http, request.release(), "/"));
        ipp_attribute_t* id =
            response ? ippFindAttribute(response.get(), "notify-subscription-id", IPP_TAG_INTEGER) : nullptr;
        if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE || id == nullptr) return std::nullopt;
        return ippGetInteger(id, 0);
    }

    // Subscribes for pulling: the watcher's subscription from now on.
    bool subscribePulled(http_t* http)
    {
        auto id = subscribe(http);
        if (!id) return false;
        m_subscription = *id;
        m_sequence = 1;
        m_renewAt = Clock::now() + std::chrono::seconds(kLeaseSeconds / 2);
        return true;
    }

    void cancelSubscription(http_t* http, int id)
    {
        if (id <= 0 || http == nullptr) return;
        Ipp request(ippNewRequest(IPP_OP_CANCEL_SUBSCRIPTION));
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        Ipp(cupsDoRequest(http, request.release(), "/"));
    }

    void cancelSubscription(http_t* http)
    {
        cancelSubscription(http, m_subscription);
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
        m_renewAt = Clock::now() + std::chrono::seconds(kLeaseSeconds / 2);
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
                    (std::strcmp(event, "printer-added") == 0 || std::strcmp(event, "printer-modified") == 0 ||
                     std::strncmp(event, "server-", 7) == 0)) {
                    printersChanged = true;
                }
            }
        }
        if (gap) return Poll::PrintersChanged;
        if (printersChanged) return Poll::PrintersChanged;
        return any ? Poll::Events : Poll::Nothing;
    }

    // What ended a wait of the watcher.
    struct Woken {
        bool stop = false, bus = false, closed = false;
    };

    // Waits up to `bound` for the end, the bus (`busFd`, -1: none) or the scheduler closing our idle
    // connection (`httpFd`, -1: none).
    Woken sleep(std::chrono::milliseconds bound, int busFd = -1, int httpFd = -1)
    {
        pollfd p[3] = {{m_stopFd, POLLIN, 0}, {busFd, POLLIN, 0}, {httpFd, POLLIN | POLLRDHUP, 0}};
        const int ms = static_cast<int>(std::clamp<long long>(bound.count(), 0, 1 << 30));
        if (::poll(p, 3, ms) < 0 && errno != EINTR) std::this_thread::sleep_for(std::min(bound, 1000ms));
        Woken woken;
        woken.stop = (p[0].revents & POLLIN) != 0 || stopping();
        woken.bus = p[1].revents != 0;
        woken.closed = p[2].revents != 0;
        return woken;
    }

    bool stopping()
    {
        std::lock_guard lock(m_mutex);
        return m_stop;
    }

    // A job of one of our queues (our backend, or our PPD) is printing.
    bool ourQueuePrinting()
    {
        std::lock_guard lock(m_mutex);
        return std::any_of(m_snapshot.queues.begin(), m_snapshot.queues.end(), [&](const Queue& q) {
            if (!q.state.processing) return false;
            auto ppd = m_ppds.find(q.printer.name);
            return q.state.deviceUri.starts_with("velta:") || (ppd != m_ppds.end() && ppd->second.facts.ours());
        });
    }

    // Without a bus, how long until the next Get-Notifications.
    std::chrono::milliseconds askingPeriod() { return ourQueuePrinting() ? m_options.printingPoll : m_options.poll; }

    // Signals can come only from a scheduler on this machine, and only where a system bus exists.
    bool busWanted() const
    {
        if (m_options.events == CupsOptions::Events::Ask) return false;
        const std::string& s = m_options.server;
        return s.starts_with("/") || s == "localhost" || s.starts_with("localhost:") || s.starts_with("127.") ||
               s == "::1" || s.starts_with("[::1]");
    }

    // The watcher's subscription: where the scheduler's notices can reach us, the bus first and then a
    // dbus:// subscription (so nothing sent in between is missed); else, or when the scheduler has no
    // D-Bus notifier, one to pull. False when the scheduler refuses both.
    bool subscribeForChanges(http_t* http, std::unique_ptr<BusSignals>& bus)
    {
        bus.reset();
        if (busWanted()) {
            std::string why;
            bus = BusSignals::listen(m_options.systemBus, why);
            if (!bus) trace("cups: no system bus, asking for changes (" + why + ")");
        }
        if (bus) {
            if (auto pushed = subscribe(http, "dbus://")) {
                m_subscription = *pushed;
                m_renewAt = Clock::now() + std::chrono::seconds(kLeaseSeconds / 2);
                setSource(ChangeSource::SystemBus);
                return true;
            }
            trace("cups: the scheduler sends no D-Bus notices, asking for changes (" + lastError("subscribe") + ")");
            bus.reset();
        }
        if (!subscribePulled(http)) return false;
        setSource(ChangeSource::Asking);
        return true;
    }

    void setSource(ChangeSource source)
    {
        std::lock_guard lock(m_mutex);
        m_source = source;
    }

    // Back after the scheduler did not answer: a new subscription (signalled where it can be) and
    // everything read again. False while it still does not answer.
    bool resume(Http& http, std::unique_ptr<BusSignals>& bus)
    {
        Http fresh = connect();
        if (!fresh || !subscribeForChanges(fresh.get(), bus)) return false;
        if (refresh(fresh.get(), true)) {
            cancelSubscription(fresh.get());  // else each try would leave one behind
            bus.reset();
            setSource(ChangeSource::None);
            return false;
        }
        http = std::move(fresh);
        bump();
        return true;
    }

    // The watcher: asks for events (every CupsOptions::poll, every printingPoll while a job of one of
    // our queues prints) or, where the system bus carries the scheduler's notices, sleeps until one
    // comes and sends the scheduler nothing in between but the lease's renewal.
    void watch(Http http, std::unique_ptr<BusSignals> bus, bool lost)
    {
        for (;;) {
            if (lost) {
                if (sleep(m_options.poll).stop) break;
                if (resume(http, bus)) lost = false;
                continue;
            }
            if (bus) {
                if (!listen(http, bus, lost)) break;
                continue;
            }
            if (sleep(askingPeriod()).stop) break;
            if (Clock::now() >= m_renewAt && !renew(http.get())) {
                if (!subscribePulled(http.get())) {
                    lost = markLost();
                    continue;
                }
                refresh(http.get(), true, Count::Move);
                continue;
            }
            switch (poll(http.get())) {
            case Poll::Nothing:
                if (dueWhileProcessing()) refresh(http.get(), false);
                break;
            case Poll::Events: refresh(http.get(), false, Count::Move); break;
            case Poll::PrintersChanged: refresh(http.get(), true, Count::Move); break;
            case Poll::Gone:
                if (!subscribePulled(http.get())) {
                    lost = markLost();
                    break;
                }
                refresh(http.get(), true, Count::Move);
                break;
            case Poll::Lost: lost = markLost(); break;
            }
        }
        if (!lost) {
            if (!http) http = connect();
            if (http) cancelSubscription(http.get());
        }
    }

    // One wait on the bus and what it brings. False when the watcher is to end.
    bool listen(Http& http, std::unique_ptr<BusSignals>& bus, bool& lost)
    {
        const auto now = Clock::now();
        auto until = m_renewAt;
        const bool printing = ourQueuePrinting();
        if (printing) until = std::min(until, refreshedAt() + m_options.processingRefresh);
        const auto bound = std::chrono::duration_cast<std::chrono::milliseconds>(until - now) + 1ms;
        const Woken woken = sleep(bound, bus->fd(), http ? httpGetFd(http.get()) : -1);
        if (woken.stop) return false;
        // The scheduler closed our idle connection (its time-out, or it ended): a new one when there is
        // something to ask, so an idle scheduler that may exit is not woken up again by us.
        if (woken.closed) http.reset();
        auto ensureConnection = [&] {
            if (!http) http = connect();
            if (http) return true;
            lost = markLost();
            bus.reset();
            return false;
        };
        if (!bus->connected()) {
            // The bus went away: asking again.
            bus.reset();
            if (!ensureConnection()) return true;
            cancelSubscription(http.get());
            if (!subscribePulled(http.get())) {
                lost = markLost();
                return true;
            }
            setSource(ChangeSource::Asking);
            refresh(http.get(), true, Count::Move);
            return true;
        }
        if (woken.bus) {
            BusSignals::Heard heard = bus->take();
            if (heard.any) {
                // Notices come in bursts (a job makes several): one read for the lot.
                if (sleep(kSettle).stop) return false;
                const BusSignals::Heard more = bus->take();
                if (!ensureConnection()) return true;
                auto failed = refresh(http.get(), heard.printers || more.printers, Count::Move);
                if (failed && failed->code == static_cast<int>(Failure::Unavailable)) {
                    bus.reset();
                    lost = markLost();
                    return true;
                }
            }
        }
        if (Clock::now() >= m_renewAt) {
            if (!ensureConnection()) return true;
            if (!renew(http.get())) {
                // Gone (a scheduler restarted without it): a new one, and everything read again.
                auto pushed = subscribe(http.get(), "dbus://");
                if (!pushed) {
                    bus.reset();
                    lost = markLost();
                    return true;
                }
                m_subscription = *pushed;
                m_renewAt = Clock::now() + std::chrono::seconds(kLeaseSeconds / 2);
                refresh(http.get(), true, Count::Move);
            }
        }
        if (printing && dueWhileProcessing() && ensureConnection()) refresh(http.get(), false);
        return true;
    }

    std::chrono::steady_clock::time_point refreshedAt()
    {
        std::lock_guard lock(m_mutex);
        return m_refreshedAt;
    }

    // A printing queue's alert moves on without an event; the count stays, as no state changed that
    // the count stands for, and queueStates() shows the new alert.
    bool dueWhileProcessing()
    {
        std::lock_guard lock(m_mutex);
        if (Clock::now() - m_refreshedAt < m_options.processingRefresh) return false;
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
            m_source = ChangeSource::None;
        }
        m_subscription = 0;
        bump();
        return true;
    }

    void bump()
    {
        publishChange();  // first, as in refresh()
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
        std::lock_guard lock(m_requestMutex);
        refresh(m_requests.get(), ppds, Count::Move);
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

    std::mutex m_mutex;  // the snapshot, the PPD cache, the count, m_source and m_stop
    Snapshot m_snapshot;
    std::map<std::string, PpdEntry> m_ppds;
    std::chrono::steady_clock::time_point m_refreshedAt;
    std::chrono::steady_clock::time_point m_watchersCheckedAt;  // a reader's last look for a watcher
    bool m_watched = false;                                     // whether one ran then
    std::uint32_t m_publishedSeen = 0;                          // the published count its snapshot is of
    std::atomic<std::uint64_t> m_count{1};
    std::condition_variable m_changed;
    bool m_stop = false;
    int m_stopFd = -1;  // readable once the watcher is to end
    ChangeSource m_source = ChangeSource::None;

    std::mutex m_watcherMutex;  // the start of the watcher
    std::atomic<bool> m_watching{false};

    // The watcher thread's own.
    int m_subscription = 0;  // pulled, or sent to the D-Bus notifier
    int m_sequence = 1;      // of a pulled one
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
