// A node-status scan of a namespace /24 whose addresses are empty but for a few nmbd hosts. Queries
// to empty addresses wait for address resolution (about 3 s) and keep holding the socket's send
// buffer meanwhile. Prints, as medians over several scans: the wall time (254 queries at one per
// millisecond and the 1 s drain make 1.254 s) and the longest pause between two queries, taken from
// a packet capture in the scanner's namespace (an ARP request or the query itself marks each send).
// Variants: the system's default send buffer, the buffer sized for the range (with CAP_NET_ADMIN,
// and without it, where SO_SNDBUF falls back under net.core.wmem_max), and the built corvane-scan.
// Needs root, iproute2 and nmbd. Usage: bench_lan_scan [PATH-TO-corvane-scan]
#include "BenchStats.h"
#include "NmbdLan.h"
#include "ScanLog.h"

#include "platform/Clock.h"
#include "platform/Ipv4.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <arpa/inet.h>
#include <linux/capability.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

using namespace corvane::test;

using corvane::bench::median;

namespace {

constexpr int runs = 5;
const QString kSubnet = QStringLiteral("10.213.0.");
const QString kFirst = kSubnet + QStringLiteral("1");
const QString kLast = kSubnet + QStringLiteral("254");

const LanPlan& plan()
{
    static const LanPlan lan{"scan", kSubnet + "2",
                             {{"nb11", kSubnet + "11", "HOST11", "BENCH"},
                              {"nb120", kSubnet + "120", "HOST120", "BENCH"},
                              {"nb240", kSubnet + "240", "HOST240", "BENCH"}}};
    return lan;
}

// First time each address was sent to, from the scanner's outgoing packets.
class TSendCapture
{
public:
    bool open()
    {
        m_fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL));
        return m_fd >= 0;
    }
    ~TSendCapture()
    {
        stop();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    void start()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_first.clear();
        }
        char drain[2048];
        while (::recv(m_fd, drain, sizeof drain, MSG_DONTWAIT) > 0) {
        }
        m_stop = false;
        m_thread = std::thread([this] { loop(); });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::map<std::uint32_t, std::int64_t> firstSends()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_first;
    }

private:
    void loop()
    {
        std::uint8_t buf[2048];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            sockaddr_ll from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            const std::int64_t now = corvane::platform::monotonic_ns();
            if (n <= 0 || from.sll_pkttype != PACKET_OUTGOING)
                continue;
            std::uint32_t target = 0;
            if (ntohs(from.sll_protocol) == ETH_P_ARP && n >= 28 && buf[6] == 0 && buf[7] == 1)
                std::memcpy(&target, buf + 24, 4); // who-has: the target protocol address
            else if (ntohs(from.sll_protocol) == ETH_P_IP && n >= 28 && buf[9] == IPPROTO_UDP
                     && ((buf[0] & 0x0F) * 4 + 4) <= n) {
                const int ihl = (buf[0] & 0x0F) * 4;
                if (((buf[ihl + 2] << 8) | buf[ihl + 3]) == 137)
                    std::memcpy(&target, buf + 16, 4);
            }
            if (target == 0)
                continue;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_first.emplace(ntohl(target), now);
        }
    }

    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::map<std::uint32_t, std::int64_t> m_first;
};

// Clears or restores CAP_NET_ADMIN in the calling thread's effective set (threads it starts inherit it).
bool set_net_admin(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    if (on)
        data[0].effective |= 1U << CAP_NET_ADMIN;
    else
        data[0].effective &= ~(1U << CAP_NET_ADMIN);
    return ::syscall(SYS_capset, &header, data) == 0;
}

struct Figures
{
    double wallSeconds = 0;
    double longestPauseMs = 0;
    int hosts = 0;
    bool inOrder = false;
    int queried = 0;
};

// The pause figures from the capture: every address queried once, in ascending order.
void fill_pauses(TSendCapture& capture, Figures& f)
{
    const auto sends = capture.firstSends();
    const std::uint32_t first = corvane::ipv4::inet_addr_value(kFirst).host().value;
    const std::uint32_t last = corvane::ipv4::inet_addr_value(kLast).host().value;
    f.inOrder = true;
    std::int64_t previous = -1;
    for (std::uint32_t a = first; a <= last; ++a) {
        const auto it = sends.find(a);
        if (it == sends.end()) {
            f.inOrder = false;
            continue;
        }
        ++f.queried;
        if (previous >= 0) {
            f.inOrder = f.inOrder && it->second >= previous;
            f.longestPauseMs = std::max(f.longestPauseMs, double(it->second - previous) / 1e6);
        }
        previous = it->second;
    }
}

bool scan_in_process(NetnsLab& lab, TSendCapture& capture, bool sized, bool netAdmin, Figures& f)
{
    NetnsLab::ScopedEnter in(lab, QStringLiteral("scan"));
    if (!in.ok() || (!netAdmin && !set_net_admin(false)))
        return false;
    QEventLoop loop;
    ScanFactory scans; // a scan still running at the time-out is stopped before loop goes
    const Log log = std::make_shared<ScanLog>();
    log->afterEnd = [&loop] { loop.quit(); };
    TNBTscanThread* t = scans.make(log, kFirst, kLast);
    t->SizeSendBuffer = sized;
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    capture.start();
    QElapsedTimer wall;
    wall.start();
    t->Resume();
    if (!netAdmin)
        set_net_admin(true);
    loop.exec();
    f.wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    capture.stop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const QString& line : log->errors)
        std::printf("  scan error: %s\n", qPrintable(line));
    f.hosts = int(log->deliveries.size());
    fill_pauses(capture, f);
    return log->ended == 1;
}

bool scan_with_program(NetnsLab& lab, TSendCapture& capture, const QString& program, Figures& f)
{
    capture.start();
    QElapsedTimer wall;
    wall.start();
    const auto r = lab.run(QStringLiteral("scan"), {program, QStringLiteral("nbstat"), kFirst, kLast}, 60000);
    f.wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    capture.stop();
    if (r.exitCode != 0) {
        std::printf("  corvane-scan: exit %d: %s\n", r.exitCode, qPrintable(r.err.trimmed()));
        return false;
    }
    if (!r.err.trimmed().isEmpty())
        std::printf("  corvane-scan said: %s\n", qPrintable(r.err.trimmed()));
    for (const QString& line : r.out.split(QLatin1Char('\n')))
        f.hosts += line.startsWith(kSubnet) ? 1 : 0;
    fill_pauses(capture, f);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::printf("bench_lan_scan needs root: it builds network namespaces. Run it with sudo.\n");
        return 1;
    }
    QString program = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
#ifdef CORVANE_SCAN_EXE
    if (program.isEmpty())
        program = QStringLiteral(CORVANE_SCAN_EXE);
#endif

    NetnsLab lab;
    const QString missing = nmbdLanMissing();
    const QString failed = missing.isEmpty() ? buildNmbdLan(lab, plan()) : missing;
    bool built = failed.isEmpty();
    TSendCapture capture;
    {
        NetnsLab::ScopedEnter in(lab, QStringLiteral("scan"));
        built = built && in.ok() && capture.open();
    }
    if (!built) {
        std::printf("cannot build the namespace LAN: %s\n", qPrintable(failed.isEmpty() ? lab.lastError() : failed));
        return 1;
    }
    std::printf("scan of %s .. %s: %lld nmbd hosts, the other addresses empty; %d runs each\n", qPrintable(kFirst),
                qPrintable(kLast), static_cast<long long>(plan().hosts.size()), runs);

    struct Variant
    {
        const char* name;
        int kind; // 0 default buffer, 1 sized, 2 sized without CAP_NET_ADMIN, 3 corvane-scan
    };
    std::vector<Variant> variants{{"default send buffer", 0},
                                  {"buffer sized for the range", 1},
                                  {"sized, without CAP_NET_ADMIN (SO_SNDBUF)", 2}};
    if (!program.isEmpty() && QFileInfo(program).isExecutable())
        variants.push_back({"corvane-scan nbstat", 3});
    for (const Variant& v : variants) {
        std::vector<double> walls, pauses;
        for (int r = 0; r < runs; ++r) {
            // Every run starts from an empty neighbour table, as a first scan does.
            lab.run(QStringLiteral("scan"), {QStringLiteral("ip"), QStringLiteral("neigh"), QStringLiteral("flush"),
                                             QStringLiteral("all")});
            Figures f;
            const bool ok = v.kind == 3 ? scan_with_program(lab, capture, program, f)
                                        : scan_in_process(lab, capture, v.kind != 0, v.kind != 2, f);
            if (!ok) {
                std::printf("%s, run %d: the scan failed or did not end within a minute\n", v.name, r + 1);
                return 1;
            }
            std::printf("%s, run %d: %.3f s, longest pause %.1f ms, %d hosts, %d of 254 queries seen%s\n", v.name,
                        r + 1, f.wallSeconds, f.longestPauseMs, f.hosts, f.queried,
                        f.inOrder ? " in order" : ", NOT all in order");
            walls.push_back(f.wallSeconds);
            pauses.push_back(f.longestPauseMs);
        }
        std::printf("median, %s: %.3f s wall (target at most 1.4 s, limit 1.254 s), longest pause %.1f ms "
                    "(target at most 5 ms)\n",
                    v.name, median(walls), median(pauses));
    }
    return 0;
}
