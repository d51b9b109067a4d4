#pragma once
// The devices survey: every address of a range where a host showed itself by any evidence, with its
// MAC, vendor and names from every protocol. Widget-free; the window's page "Devices" and
// corvane-scan discover drive it.
//
// With CAP_NET_RAW the on-link addresses are resolved by our own ARP sweep first and only the hosts
// that answered (and every routed address) are asked further; without it the evidence is what the
// kernel resolved for our own queries and what answered them. Then, side by side: the node-status
// query, one ICMP echo, and the names (NetBIOS from the node-status answer, mDNS, LLMNR, DNS).

#include "discovery/NameQuery.h"
#include "netbios/netBios_types.h"
#include "platform/Ipv4.h"
#include "support/Vendors.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace corvane::discovery {

// How a host showed itself; a device may have several.
enum TEvidence : unsigned {
    EvidenceArp = 1u << 0,       // a reply to our own ARP request
    EvidenceNetbios = 1u << 1,   // a node-status answer
    EvidenceEcho = 1u << 2,      // an ICMP echo reply
    EvidenceIcmpError = 1u << 3, // an ICMP error sent by the address itself (port unreachable)
    EvidenceNeighbour = 1u << 4, // a neighbour entry the kernel resolved for one of our queries
};
// "arp", "netbios", "echo", "icmp-error", "neighbour": the ones set, in that order.
QStringList evidence_words(unsigned evidence);

struct TDevice
{
    corvane::ipv4::THostAddr address;
    std::optional<TMacAddress> mac; // from the ARP reply or the neighbour table; none behind a router
    QString vendor;                 // from the registry; empty when unknown
    std::vector<found_name> names;  // each with its source: netbios first, then mdns, llmnr, dns
    unsigned evidence = 0;
    std::shared_ptr<const nb_status_result> netbios; // the node-status answer, when there was one
};

// The name a list shows: the first of names (sources in the order above); none when unnamed.
const found_name* best_name(const TDevice& device);

// A host that answered a node-status query (corvane-scan nbstat) as a device: its MAC from the
// answer, or neighbourMac when the answer reports zeros; its computer name; evidence netbios.
TDevice node_status_device(corvane::ipv4::THostAddr address, std::shared_ptr<const nb_status_result> result,
                           const std::optional<TMacAddress>& neighbourMac, const QString& vendor);

struct TDeviceSurveyOptions
{
    std::vector<corvane::ipv4::THostRange> targets; // merged: ascending, each address once
    int rate = 0;          // queries and frames per second; 0: 1,000, the scan's pace
    int timeoutMs = 1000;  // how long to wait for late answers
    bool names = true;     // ask mDNS, LLMNR and DNS of the devices found
};

// Runs on a thread of its own; its signals arrive on the thread that made it.
class TDeviceSurvey : public QObject
{
    Q_OBJECT

public:
    explicit TDeviceSurvey(TDeviceSurveyOptions options, QObject* parent = nullptr);
    ~TDeviceSurvey() override; // stops and waits for the thread

    void start();
    void stop(); // ends the survey soon; what was found is kept and finished() follows
    bool running() const;
    bool stopped() const; // stop() was called before the survey ended

    std::uint64_t total() const;   // addresses in the targets
    std::uint64_t asked() const;   // addresses asked so far (any thread)
    // With CAP_NET_RAW on-link addresses were resolved by our own ARP sweep; read after started.
    bool ownResolution() const;
    // The node-status socket could not be set up (its line came by errorLine); read after finished().
    bool cannotStart() const;
    // Why no device has a vendor name: the registry gave none; empty when it did (read after finished()).
    QString vendorsMissing() const;

    // Every device, in address order; whole once finished() came.
    const std::vector<TDevice>& devices() const;

Q_SIGNALS:
    // A device seen first or known better (a name, the MAC, more evidence): the whole device as now known.
    void deviceChanged(const corvane::discovery::TDevice& device);
    // A problem of the survey, one line (a send that failed, an unreadable socket).
    void errorLine(const QString& text);
    void finished();

private:
    void survey(); // the survey thread
    void askRest(const std::vector<std::uint32_t>& rest);
    std::thread askNames();
    void note(std::uint32_t address, const std::function<bool(TDevice&, bool& macFromNetbios)>& change);
    void noteEvidence(std::uint32_t address, unsigned evidence, const std::optional<TMacAddress>& mac = {});
    void noteNetbios(std::uint32_t address, std::shared_ptr<const nb_status_result> result);
    static void addNames(TDevice& device, const std::vector<found_name>& names);

    struct TState;
    std::unique_ptr<TState> m_state;
};

} // namespace corvane::discovery

Q_DECLARE_METATYPE(corvane::discovery::TDevice)
