#include "discovery/DeviceSurvey.h"

#include "netbios/nbtscan.h"
#include "netbios/netBios_procs.h"
#include "platform/ArpSweep.h"
#include "platform/IcmpSweep.h"
#include "platform/Neighbour.h"
#include "support/ResultText.h"

#include <QEventLoop>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <thread>

namespace corvane::discovery {

namespace ipv4 = corvane::ipv4;
namespace platform = corvane::platform;

QStringList evidence_words(unsigned evidence)
{
    static const std::pair<unsigned, const char*> words[] = {{EvidenceArp, "arp"},
                                                             {EvidenceNetbios, "netbios"},
                                                             {EvidenceEcho, "echo"},
                                                             {EvidenceIcmpError, "icmp-error"},
                                                             {EvidenceNeighbour, "neighbour"}};
    QStringList out;
    for (const auto& [bit, word] : words)
        if (evidence & bit)
            out << QLatin1String(word);
    return out;
}

const found_name* best_name(const TDevice& device)
{
    return device.names.empty() ? nullptr : &device.names.front();
}

namespace {

// The machine's own IPv4 addresses (network order): never devices of the list.
std::vector<std::uint32_t> own_addresses()
{
    std::vector<std::uint32_t> own;
    ifaddrs* head = nullptr;
    if (::getifaddrs(&head) != 0)
        return own;
    for (const ifaddrs* p = head; p; p = p->ifa_next)
        if (p->ifa_addr && p->ifa_addr->sa_family == AF_INET)
            own.push_back(reinterpret_cast<const sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr);
    ::freeifaddrs(head);
    std::sort(own.begin(), own.end());
    return own;
}

// Host-order ascending runs of the addresses (network order, ascending in host order).
std::vector<ipv4::THostRange> runs_of(const std::vector<std::uint32_t>& addresses)
{
    std::vector<ipv4::THostRange> runs;
    for (const std::uint32_t a : addresses) {
        const ipv4::THostAddr h = ipv4::TNetAddr {a}.host();
        if (!runs.empty() && runs.back().last.value + 1 == h.value)
            runs.back().last = h;
        else
            runs.push_back({h, h});
    }
    return runs;
}

bool host_less(std::uint32_t a, std::uint32_t b)
{
    return ipv4::TNetAddr {a}.host().value < ipv4::TNetAddr {b}.host().value;
}

// A sorted (host order) list of network-order addresses: whether a is in it.
bool listed(const std::vector<std::uint32_t>& sorted, std::uint32_t a)
{
    return std::binary_search(sorted.begin(), sorted.end(), a, host_less);
}

// The MAC a node-status answer reports, unless all zeros (Samba): then the neighbour table knows better.
std::optional<TMacAddress> netbios_mac(const nb_status_result* result)
{
    if (reports_zero_mac(result))
        return std::nullopt;
    return reported_mac(result);
}

} // namespace

TDevice node_status_device(ipv4::THostAddr address, std::shared_ptr<const nb_status_result> result,
                           const std::optional<TMacAddress>& neighbourMac, const QString& vendor)
{
    TDevice d;
    d.address = address;
    d.evidence = EvidenceNetbios;
    d.vendor = vendor;
    d.mac = netbios_mac(result.get());
    if (!d.mac)
        d.mac = neighbourMac;
    if (const QByteArray name = SummarizeNameTable(result.get()).computer_name; !name.isEmpty())
        d.names.push_back(found_name {name, name_source::netbios});
    d.netbios = std::move(result);
    return d;
}

struct TDeviceSurvey::TState
{
    TDeviceSurveyOptions options;
    std::vector<TDevice> devices; // the owner's copy, address order
    std::unique_ptr<QThread> thread;
    std::atomic<bool> stop {false};
    std::atomic<bool> stopRequested {false};
    std::atomic<bool> running {false};
    std::atomic<bool> own {false};
    std::atomic<bool> cannotStart {false};
    std::atomic<std::uint64_t> asked {0};
    std::uint64_t total = 0;
    TVendorRegistry vendors;

    // The survey thread's side, guarded: other threads (echo, names, the scan's error queue) note too.
    std::mutex mutex;
    struct TEntry
    {
        TDevice device;
        bool macFromNetbios = false;
        bool named = false; // its names were asked
    };
    std::map<std::uint32_t, TEntry> found; // host order: address order
    std::vector<std::uint32_t> addresses; // every address asked about, host-order ascending
};

TDeviceSurvey::TDeviceSurvey(TDeviceSurveyOptions options, QObject* parent)
    : QObject(parent)
    , m_state(std::make_unique<TState>())
{
    qRegisterMetaType<corvane::discovery::TDevice>();
    options.targets = ipv4::merge_ranges(std::move(options.targets));
    m_state->total = ipv4::address_count(options.targets);
    m_state->options = std::move(options);
    // The owner's copy follows the survey thread's news, in order, ahead of finished().
    connect(this, &TDeviceSurvey::deviceChanged, this, [this](const TDevice& device) {
        std::vector<TDevice>& list = m_state->devices;
        const auto at = std::lower_bound(list.begin(), list.end(), device, [](const TDevice& a, const TDevice& b) {
            return a.address.value < b.address.value;
        });
        if (at != list.end() && at->address == device.address)
            *at = device;
        else
            list.insert(at, device);
    });
}

TDeviceSurvey::~TDeviceSurvey()
{
    if (!m_state->thread)
        return;
    m_state->stop = true;
    m_state->thread->wait();
}

bool TDeviceSurvey::running() const
{
    return m_state->running;
}

bool TDeviceSurvey::stopped() const
{
    return m_state->stopRequested;
}

std::uint64_t TDeviceSurvey::total() const
{
    return m_state->total;
}

std::uint64_t TDeviceSurvey::asked() const
{
    return m_state->asked.load(std::memory_order_relaxed);
}

bool TDeviceSurvey::ownResolution() const
{
    return m_state->own;
}

QString TDeviceSurvey::vendorsMissing() const
{
    const std::shared_ptr<const TVendorTable> table = m_state->vendors.table();
    return table && table->size() == 0 ? vendors_missing_note(m_state->vendors.directory()) : QString();
}

bool TDeviceSurvey::cannotStart() const
{
    return m_state->cannotStart;
}

const std::vector<TDevice>& TDeviceSurvey::devices() const
{
    return m_state->devices;
}

void TDeviceSurvey::stop()
{
    if (!m_state->running)
        return;
    m_state->stopRequested = true;
    m_state->stop = true;
}

void TDeviceSurvey::start()
{
    if (m_state->running)
        return;
    if (m_state->thread)
        m_state->thread->wait();
    m_state->devices.clear();
    m_state->found.clear();
    m_state->stop = false;
    m_state->stopRequested = false;
    m_state->cannotStart = false;
    m_state->asked = 0;
    m_state->running = true;
    m_state->vendors.load();
    m_state->thread.reset(QThread::create([this] { survey(); }));
    m_state->thread->start();
}

// Notes what an address showed, when it is one the survey asked about; emits the device when it
// changed. Runs on any of the survey's threads.
void TDeviceSurvey::note(std::uint32_t address, const std::function<bool(TDevice&, bool& macFromNetbios)>& change)
{
    TState& s = *m_state;
    std::unique_lock lock(s.mutex);
    if (!listed(s.addresses, address))
        return;
    const std::uint32_t key = ipv4::TNetAddr {address}.host().value;
    auto at = s.found.find(key);
    const bool fresh = at == s.found.end();
    if (fresh) {
        at = s.found.emplace(key, TState::TEntry {}).first;
        at->second.device.address = ipv4::THostAddr {key};
    }
    TState::TEntry& e = at->second;
    const std::optional<TMacAddress> mac = e.device.mac;
    if (!change(e.device, e.macFromNetbios) && !fresh)
        return;
    if (e.device.mac != mac || (e.device.mac && e.device.vendor.isEmpty()))
        if (const std::shared_ptr<const TVendorTable> table = s.vendors.table(); table && e.device.mac)
            e.device.vendor = table->vendor(*e.device.mac);
    const TDevice copy = e.device;
    lock.unlock();
    Q_EMIT deviceChanged(copy);
}

void TDeviceSurvey::noteEvidence(std::uint32_t address, unsigned evidence, const std::optional<TMacAddress>& mac)
{
    note(address, [&](TDevice& d, bool& macFromNetbios) {
        const bool more = (d.evidence | evidence) != d.evidence;
        d.evidence |= evidence;
        // The link's own word beats what a NetBIOS answer reports.
        if (mac && (!d.mac || macFromNetbios) && d.mac != mac) {
            d.mac = mac;
            macFromNetbios = false;
            return true;
        }
        return more;
    });
}

void TDeviceSurvey::noteNetbios(std::uint32_t address, std::shared_ptr<const nb_status_result> result)
{
    note(address, [&](TDevice& d, bool& macFromNetbios) {
        d.evidence |= EvidenceNetbios;
        d.netbios = result;
        const QByteArray name = SummarizeNameTable(result.get()).computer_name;
        if (!name.isEmpty())
            addNames(d, {found_name {name, name_source::netbios}});
        if (!d.mac)
            if (const std::optional<TMacAddress> mac = netbios_mac(result.get())) {
                d.mac = mac;
                macFromNetbios = true;
            }
        return true;
    });
}

void TDeviceSurvey::addNames(TDevice& device, const std::vector<found_name>& names)
{
    for (const found_name& n : names)
        if (std::find(device.names.begin(), device.names.end(), n) == device.names.end())
            device.names.push_back(n);
    // Sources in their order (netbios, mdns, llmnr, dns); the order of arrival within one.
    std::stable_sort(device.names.begin(), device.names.end(),
                     [](const found_name& a, const found_name& b) { return a.source < b.source; });
}

// Asks the names of the devices found so far that were not asked yet; runs on a thread of its own.
std::thread TDeviceSurvey::askNames()
{
    TState& s = *m_state;
    std::vector<std::uint32_t> batch;
    {
        std::lock_guard lock(s.mutex);
        for (auto& [key, e] : s.found)
            if (!e.named) {
                e.named = true;
                batch.push_back(ipv4::THostAddr {key}.net().value);
            }
    }
    if (batch.empty() || !s.options.names)
        return {};
    return std::thread([this, batch = std::move(batch)] {
        TState& st = *m_state;
        name_query_options o;
        o.timeout_ms = st.options.timeoutMs;
        o.rate = st.options.rate > 0 ? st.options.rate : 1000;
        const std::map<std::uint32_t, std::vector<found_name>> names = ask_names(batch, o, &st.stop);
        for (const auto& [address, list] : names)
            note(address, [&](TDevice& d, bool&) {
                const std::size_t before = d.names.size();
                addNames(d, list);
                return d.names.size() != before;
            });
    });
}

void TDeviceSurvey::survey()
{
    TState& s = *m_state;
    {
        const std::vector<std::uint32_t> own = own_addresses();
        std::lock_guard lock(s.mutex);
        s.addresses.clear();
        for (const ipv4::THostRange& r : s.options.targets)
            for (std::uint64_t i = 0; i < r.count() && !s.stop; ++i) {
                const std::uint32_t a = ipv4::THostAddr {static_cast<std::uint32_t>(r.first.value + i)}.net().value;
                if (!std::binary_search(own.begin(), own.end(), a))
                    s.addresses.push_back(a);
            }
    }
    // The addresses the further questions go to: with our own resolution only the hosts that
    // answered it and every address it could not sweep (routed ones).
    std::vector<std::uint32_t> rest = s.addresses;
    std::vector<std::thread> naming;
    if (!s.stop && platform::can_resolve_addresses()) {
        platform::arp_sweep_options ao;
        ao.rate = s.options.rate > 0 ? s.options.rate : 1000;
        // Replies on a link come within milliseconds; a long wait here only delays the rest.
        ao.wait_ns = std::int64_t {std::clamp(s.options.timeoutMs, 1, 500)} * 1'000'000;
        // A /16 takes a minute at the default pace: the progress follows the sweep, not only its end.
        ao.progress = [&s](std::size_t asked, std::size_t) { s.asked = asked; };
        const platform::arp_survey arp = platform::resolve_on_link(
            s.addresses, ao,
            [this](const platform::arp_reply& r) { noteEvidence(r.sender_ip, EvidenceArp, r.sender_mac); }, &s.stop);
        if (arp.ran) {
            s.own = true;
            s.asked = arp.swept.size();
            std::vector<std::uint32_t> swept = arp.swept;
            std::sort(swept.begin(), swept.end(), host_less);
            rest.clear();
            for (const std::uint32_t a : s.addresses)
                if (!listed(swept, a))
                    rest.push_back(a);
            for (const platform::arp_reply& r : arp.replies)
                if (listed(s.addresses, r.sender_ip))
                    rest.push_back(r.sender_ip);
            std::sort(rest.begin(), rest.end(), host_less);
            rest.erase(std::unique(rest.begin(), rest.end()), rest.end());
            // The hosts on the link are known: their names are asked while the rest goes on.
            naming.push_back(askNames());
        }
    }
    if (!s.stop && !rest.empty())
        askRest(rest);
    naming.push_back(askNames());
    for (std::thread& t : naming)
        if (t.joinable())
            t.join();
    // Vendors the registry could not give yet when the devices were first noted.
    if (const std::shared_ptr<const TVendorTable> table = s.vendors.wait()) {
        std::vector<std::uint32_t> late;
        {
            std::lock_guard lock(s.mutex);
            for (const auto& [key, e] : s.found)
                if (e.device.mac && e.device.vendor.isEmpty() && !table->vendor(*e.device.mac).isEmpty())
                    late.push_back(ipv4::THostAddr {key}.net().value);
        }
        for (const std::uint32_t a : late)
            note(a, [](TDevice&, bool&) { return true; });
    }
    s.running = false;
    Q_EMIT finished();
}

// Side by side: the node-status scan, one echo each, and (without our own resolution) what the
// kernel's neighbour table resolved for them. Blocks until all have ended.
void TDeviceSurvey::askRest(const std::vector<std::uint32_t>& rest)
{
    TState& s = *m_state;
    const std::uint64_t base = s.asked;
    const bool readTable = !s.own;
    QEventLoop loop;
    TNBTscanThread scan;
    scan.Targets = runs_of(rest);
    scan.Rate = s.options.rate;
    scan.FreeResults = false;
    scan.OnReceive = [this, &rest](TNBTscanThread*, const QString& ip, nb_status_result* result) {
        std::shared_ptr<const nb_status_result> owned(
            result, [](const nb_status_result* r) { release_result(const_cast<nb_status_result*>(r)); });
        const std::optional<ipv4::TNetAddr> from = ipv4::parse_lenient(ip);
        // An answer from an address we did not ask is nobody's answer.
        if (from && listed(rest, from->value))
            noteNetbios(from->value, std::move(owned));
    };
    scan.OnPresence
        = [this](std::uint32_t address, TNBTscanThread::TPresence) { noteEvidence(address, EvidenceIcmpError); };
    scan.OnError = [this](TNBTscanThread*, const QString& line) { Q_EMIT errorLine(line); };
    std::atomic<bool> scanDone {false};
    scan.OnTerminate = [&scanDone](TNBTscanThread*) { scanDone = true; };

    std::atomic<bool> echoDone {false};
    std::thread echo([this, &rest, &echoDone] {
        platform::icmp_sweep sweep;
        sweep.set_rate(m_state->options.rate);
        const std::vector<unsigned char> data(56, 0x61);
        TIpOptionInfo ip {};
        ip.Ttl = 64;
        QSet<QString> said;
        sweep.run(
            rest.size(), [&rest](std::uint64_t i) { return rest[i]; }, data.data(),
            static_cast<std::uint16_t>(data.size()), &ip, static_cast<std::uint32_t>(m_state->options.timeoutMs),
            [this, &rest](std::uint64_t i, const TIcmpEchoReply& reply, std::uint32_t replies) {
                if (replies != 0 && reply.Status == 0 && reply.Address == rest[i])
                    noteEvidence(rest[i], EvidenceEcho);
            },
            [this, &said](const std::string& text) {
                const QString t = QString::fromLocal8Bit(text.c_str());
                if (!said.contains(t)) {
                    said.insert(t);
                    Q_EMIT errorLine(t);
                }
            },
            &m_state->stop);
        echoDone = true;
    });

    const auto readNeighbours = [this, &rest] {
        const std::optional<std::vector<platform::neigh_entry>> table = platform::read_neighbours();
        if (!table)
            return;
        for (const platform::neigh_entry& e : *table)
            if (e.state == platform::neigh_state::resolved && e.lladdr && listed(rest, e.address))
                noteEvidence(e.address, EvidenceNeighbour, *e.lladdr);
    };
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (s.stop)
            scan.Terminate();
        s.asked = base + scan.QueriesSent();
        if (readTable)
            readNeighbours();
        if (scanDone && echoDone)
            loop.quit();
    });
    tick.start();
    scan.Resume();
    loop.exec();
    echo.join();
    s.cannotStart = scan.SetupFailure() != TScanSetupFailure::None;
    // Entries the last answers brought.
    if (readTable)
        readNeighbours();
    s.asked = base + rest.size();
}

} // namespace corvane::discovery
