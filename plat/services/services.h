#pragma once
// The services one process works with: the registry store of its system root, the print spooler, the
// clock of its fixed waits and the port opener.
//
// Each process builds one at its edge and passes it down by reference: a program in main(), a library
// in its C export wrappers (edgeServices() below). Nothing under an edge looks a service up, so a test
// builds as many as it likes, on roots and clocks of its own, in one process.
//
// Threads: a Services may be used from any thread; the store and the spooler serialise their calls
// inside, and the spooler is made once, on the first thread that asks for it.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "plat/base/clock.h"
#include "plat/base/result.h"
#include "plat/port/port.h"
#include "plat/registry/registry.h"
#include "plat/spool/spooler.h"

namespace plat {

struct ServicesOptions {
    const Clock* clock = nullptr;        // the steady clock when null; must outlive the services
    std::optional<spool::Kind> spooler;  // chosen on first use when empty (spool::chooseKind())
    spool::CupsOptions cups;             // for a CUPS spooler
};

class Services {
public:
    using Options = ServicesOptions;

    // Opens the store of the current system root (plat::registryFile()).
    static Result<std::unique_ptr<Services>> open(Options options);
    static Result<std::unique_ptr<Services>> open() { return open(Options{}); }
    // Over a store the caller keeps open for at least as long.
    explicit Services(registry::Store& store, Options options = {});
    ~Services();
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    registry::Store& store() const { return *m_store; }
    const Clock& clock() const { return *m_clock; }

    // Which spooler serves this process: the one given in the options, else the choice made on the first
    // call (one quick question to a scheduler at most).
    spool::Kind spoolerKind();
    // The spooler, made on the first call and kept for the life of these services; an error when it
    // cannot be made (a scheduler that stopped answering), and the next call tries again.
    Result<spool::Spooler*> spooler();
    // A spooler of that kind of the caller's own, for a thread that may outlive its owner's wait for it
    // (a window's worker left inside a call to a scheduler that does not answer).
    Result<std::unique_ptr<spool::Spooler>> openSpooler();

    // Opens the port the store's port map names `portName` (plat::port::openPort on this store).
    Result<std::unique_ptr<port::Port>> openPort(std::string_view portName,
                                                 const port::Interrupt* interrupt = nullptr) const;

private:
    Result<std::unique_ptr<spool::Spooler>> openSpooler(spool::Kind kind);

    std::unique_ptr<registry::Store> m_ownStore;
    registry::Store* m_store;
    const Clock* m_clock;
    Options m_options;
    std::mutex m_spoolerMutex;
    std::optional<spool::Kind> m_kind;          // guarded by m_spoolerMutex
    std::unique_ptr<spool::Spooler> m_spooler;  // guarded by m_spoolerMutex
};

// ---- for the C export wrappers of a library, and for nothing else ----------------------------------
//
// A library's exports have no parameter to carry services. A program that loads the library hands its
// own in through the library's "UseServices" export, which calls handOverEdgeServices(); without that,
// the library makes its own for the current system root, once per root, kept for the life of the
// process (engine threads may still use them while static objects are torn down at exit).
// Each library keeps its own hand-over: the platform layer is linked into each of them privately.

// The services the exports of this library use: null when the root's store does not open.
Services* edgeServices();
// From now on edgeServices() gives `services` (the caller keeps it for the life of the process), or,
// with null, its own again.
void handOverEdgeServices(Services* services);

}  // namespace plat
