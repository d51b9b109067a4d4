// The neighbour table and the routes at a scan's scale. Prints medians of:
// - route_oracle::route per destination, on loopback and across a namespace /16 (a /16 scan asks
//   65,534 times while it sends one query per millisecond);
// - read_neighbours with a namespace's table nearly empty and with 950 pending entries, and
//   beside it what the vendor lookup did before the cache: /proc/net/arp read whole for one address.
// Filling the table takes room in the machine-wide one: that part holds /tmp/corvane-neigh.lock,
// leaves gc_thresh3 - 64 entries at most in use, and its entries go with the namespace.
// Needs root and iproute2.
#include "BenchStats.h"
#include "NetnsLab.h"

#include "platform/FdCloser.h"
#include "platform/Neighbour.h"

#include <QCoreApplication>
#include <QFile>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using corvane::test::NetnsLab;
using namespace corvane::platform;

using corvane::bench::median;

namespace {

// The median over runs of the nanoseconds one call of f(i) takes, i counting up within a run.
double ns_per_call(int runs, int calls, const std::function<void(int)>& f)
{
    std::vector<double> ns;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < calls; ++i)
            f(i);
        ns.push_back(double(t.nsecsElapsed()) / calls);
    }
    return median(ns);
}

// 10.85.0.0/16 host number i+1 (network order).
std::uint32_t in_lab(int i)
{
    return htonl(0x0A550000u + std::uint32_t(i % 65534) + 1);
}

// From inside the lab's "scan" namespace, sends to empty addresses of its /16 until that table holds
// count entries or the machine's table would have fewer than 64 free (the machine's count is read
// outside, the only place it can be). The number of entries the namespace holds.
int fill(NetnsLab& lab, int count, int cap)
{
    // Made in the namespace, the socket stays there while the thread looks outside. Each datagram
    // waits in the send buffer while its address resolves: room for all of them.
    const fd_closer fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int buffer = 8 << 20;
    ::setsockopt(fd.fd, SOL_SOCKET, SO_SNDBUFFORCE, &buffer, sizeof buffer);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    constexpr int batch = 50;
    for (int i = 0; i < count; ++i) {
        if (i % batch == 0) {
            lab.leave();
            const std::optional<int> all = read_neigh_entries();
            if (!lab.enter(QStringLiteral("scan")) || (all && *all + batch > cap - 64))
                break;
        }
        to.sin_addr.s_addr = in_lab(256 + i); // from 10.85.1.1 on: clear of the scanner's own address
        ::sendto(fd.fd, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    const std::optional<std::vector<neigh_entry>> ours = read_neighbours();
    return ours ? int(ours->size()) : -1;
}

void print_reads(const char* what, int entries)
{
    const double readUs = ns_per_call(21, 1, [](int) { read_neighbours(); }) / 1000;
    // What the vendor lookup did before the cache: the whole of /proc/net/arp for every answer.
    const double arpUs = ns_per_call(21, 1, [](int) {
                             QFile f(QStringLiteral("/proc/net/arp"));
                             if (f.open(QIODevice::ReadOnly))
                                 (void)f.readAll().contains("10.85.0.1 ");
                         }) / 1000;
    std::printf("read_neighbours, %s (%d entries): %.0f us per reading; /proc/net/arp read whole: %.0f us "
                "per address\n",
                what, entries, readUs, arpUs);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::printf("bench_neighbour needs root: it builds network namespaces. Run it with sudo.\n");
        return 1;
    }
    constexpr int runs = 7;
    {
        route_oracle oracle;
        const double ns
            = ns_per_call(runs, 20000, [&oracle](int i) { oracle.route(htonl(0x7F000001u + std::uint32_t(i))); });
        std::printf("route_oracle::route, loopback: %.0f ns per destination\n", ns);
    }

    // Taken only to fill the table, and held until the lab (made after it, so gone before it) has
    // deleted the namespace and its entries.
    const fd_closer lock(::open("/tmp/corvane-neigh.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    NetnsLab lab;
    if (!lab.addSegment(QStringLiteral("a"))
        || !lab.addHost(QStringLiteral("scan"), QStringLiteral("a"), QStringLiteral("10.85.0.2/16"))
        // Each entry pending 5 s, long enough to read a full table a few dozen times.
        || !lab.setSysctl(QStringLiteral("scan"), QStringLiteral("net.ipv4.neigh.eth0.mcast_solicit"),
                          QStringLiteral("1"))
        || !lab.setSysctl(QStringLiteral("scan"), QStringLiteral("net.ipv4.neigh.eth0.retrans_time_ms"),
                          QStringLiteral("5000"))) {
        std::printf("cannot build the namespace: %s\n", qPrintable(lab.lastError()));
        return 1;
    }
    // Read here: a namespace of its own cannot see the machine's count and limits.
    const neigh_limits limits = read_neigh_limits();
    const std::optional<int> before = read_neigh_entries();
    if (!lab.enter(QStringLiteral("scan"))) {
        std::printf("cannot enter the namespace\n");
        return 1;
    }
    {
        route_oracle oracle;
        const double ns = ns_per_call(runs, 65534, [&oracle](int i) { oracle.route(in_lab(i)); });
        std::printf("route_oracle::route, a namespace /16 on link: %.0f ns per destination\n", ns);
    }
    print_reads("the namespace's table nearly empty",
                int(read_neighbours().value_or(std::vector<neigh_entry> {}).size()));

    if (lock.fd >= 0 && ::flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
        std::printf("waiting for /tmp/corvane-neigh.lock (another program fills the table)\n");
        std::fflush(stdout);
    }
    if (lock.fd < 0 || ::flock(lock.fd, LOCK_EX) != 0) {
        std::printf("cannot take /tmp/corvane-neigh.lock\n");
        return 1;
    }
    lab.leave();
    const std::optional<int> locked = read_neigh_entries();
    if (!lab.enter(QStringLiteral("scan")))
        return 1;
    const int held = fill(lab, 950, limits.gc_thresh3);
    print_reads("filled with pending entries", held);
    lab.leave();
    const std::optional<int> full = read_neigh_entries();
    std::printf("machine-wide table: %d entries at the start, %d once locked, %d filled, gc_thresh3 %d\n",
                before.value_or(-1), locked.value_or(-1), full.value_or(-1), limits.gc_thresh3);
    return 0;
}
