#include "plat/services/services.h"

#include <map>
#include <string>

#include "plat/base/system_root.h"
#include "plat/base/trace.h"

namespace plat {

Result<std::unique_ptr<Services>> Services::open(Options options)
{
    auto store = registry::Store::open(registryFile());
    if (!store) return store.error();
    auto services = std::make_unique<Services>(*store.value(), std::move(options));
    services->m_ownStore = std::move(store).value();
    return services;
}

Services::Services(registry::Store& store, Options options)
    : m_store(&store),
      m_clock(options.clock != nullptr ? options.clock : &steadyClock()),
      m_options(std::move(options)),
      m_kind(m_options.spooler)
{
}

// The spooler goes before the store it writes into.
Services::~Services() { m_spooler.reset(); }

spool::Kind Services::spoolerKind()
{
    std::lock_guard lock(m_spoolerMutex);
    if (!m_kind) m_kind = spool::chooseKind();
    return *m_kind;
}

Result<spool::Spooler*> Services::spooler()
{
    const spool::Kind kind = spoolerKind();
    std::lock_guard lock(m_spoolerMutex);
    if (!m_spooler) {
        auto made = openSpooler(kind);
        if (!made) return made.error();
        m_spooler = std::move(made).value();
    }
    return m_spooler.get();
}

Result<std::unique_ptr<spool::Spooler>> Services::openSpooler() { return openSpooler(spoolerKind()); }

Result<std::unique_ptr<spool::Spooler>> Services::openSpooler(spool::Kind kind)
{
    if (kind == spool::Kind::Embedded) return spool::embedded(*m_store);
    auto made = spool::cups(*m_store, m_options.cups);
    if (!made) return made.error();
    return std::unique_ptr<spool::Spooler>(std::move(made).value());
}

Result<std::unique_ptr<port::Port>> Services::openPort(std::string_view portName,
                                                       const port::Interrupt* interrupt) const
{
    return port::openPort(*m_store, portName, interrupt);
}

namespace {

std::mutex edgeMutex;
Services* handedOver = nullptr;  // guarded by edgeMutex

}  // namespace

Services* edgeServices()
{
    {
        std::lock_guard lock(edgeMutex);
        if (handedOver != nullptr) return handedOver;
    }
    // One per root, never destroyed (see the header); the store is the root's one store of the process.
    static std::mutex mutex;
    static auto* own = new std::map<std::filesystem::path, Services*>();
    auto store = registry::Store::forCurrentRoot();
    if (!store) return nullptr;
    std::lock_guard lock(mutex);
    auto [it, made] = own->try_emplace(store.value()->file(), nullptr);
    if (made) it->second = new Services(*store.value());
    return it->second;
}

void handOverEdgeServices(Services* services)
{
    std::lock_guard lock(edgeMutex);
    handedOver = services;
}

}  // namespace plat
