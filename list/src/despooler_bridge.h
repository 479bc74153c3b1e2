#pragma once
// The bridge between a printing CUPS queue and the engine's despooler mode. While a queue on our
// `velta` backend prints, the backend owns the port and publishes the printer's status through the
// print system as an alert ("velta;seq=N;t=EPOCH;st=HEX;ink=HEX", the device ID beside it). The
// engine of that printer reads a despooler's values from the printer's driver data; the bridge writes
// them there from the alert, and takes them back when the job ends. The alert's own time becomes the
// despooler's last access, so an alert that stops coming goes stale and the engine takes the port back
// by its usual rule.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace watchlist {

struct BackendAlert {
    std::uint64_t sequence = 0;
    std::int64_t time = 0;  // seconds since 1970, UTC
    std::string status;     // the printer's status reply
    std::string ink;        // the ink reply, when the printer has one
};
// nullopt for an alert that is not the backend's or is malformed (fields missing, odd or bad hex,
// over 4096 bytes).
std::optional<BackendAlert> parseBackendAlert(std::string_view text);

// One queue as the spooler reports it.
struct QueueState {
    std::string name;
    bool veltaBackend = false;  // its device URI is velta:
    bool processing = false;    // a job is printing
    std::string alert;          // printer-alert
    std::string deviceId;       // printer-alert-description
};

class DespoolerBridge {
public:
    // One driver-data value of a printer: `dword` for a DWORD, `bytes` for a string or binary value.
    struct Value {
        std::string printer;
        const char* name;
        enum class Type { Dword, String, Binary } type;
        std::uint32_t dword = 0;
        std::string bytes;
    };
    using Write = std::function<void(const Value&)>;

    explicit DespoolerBridge(Write write) : m_write(std::move(write)) {}

    // Brings the driver data in line with the queues: values for each printing queue whose alert is
    // new, both despooler flags 0 for a queue whose job ended (or that is gone). `utcOffset` turns the
    // alert's time into the local seconds the engine compares.
    void update(const std::vector<QueueState>& queues, std::int64_t utcOffset);
    // Takes every value back (the list program ends).
    void releaseAll();

    bool active(const std::string& queue) const { return m_sequences.count(queue) != 0; }

private:
    void release(const std::string& queue);

    Write m_write;
    std::map<std::string, std::uint64_t> m_sequences;  // the queues the bridge speaks for, by last alert
};

}  // namespace watchlist
