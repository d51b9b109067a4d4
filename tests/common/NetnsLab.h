#pragma once
// A private LAN of network namespaces for tests: bridged segments, hosts with veths, a router,
// Samba's nmbd per host, and a way for the test process itself to work inside a namespace.
//
// Every namespace name starts with "cvl<pid>-", so parallel test programs never collide. The
// destructor kills spawned peers, deletes every namespace it made and removes its temp dir; it runs
// also when a test function fails, as long as the lab lives in the test object or on the stack.
// Needs root, iproute2; nmbd/nmblookup for the NetBIOS helpers. Every wait is bounded.
//
// Threads and namespaces: enter(ns) switches the CALLING THREAD only (setns). Threads created later
// by that thread (QThread::start, and children started by QProcess) inherit its namespace, so enter
// before creating the QThreads and sockets that must live inside. leave() returns the thread to the
// namespace it was in when the lab was built; the destructor does that too.
//
//     NetnsLab lab;                                      // QVERIFY2(lab.ok(), qPrintable(lab.lastError()))
//     lab.addSegment("lan");
//     lab.addHost("pc1", "lan", "10.77.0.11/24");        // namespace lab.ns("pc1")
//     lab.addHost("scan", "lan", "10.77.0.2/24");
//     NetnsLab::NmbdConfig pc1;  pc1.netbiosName = "PC1";  pc1.workgroup = "WG1";
//     lab.startNmbd("pc1", pc1);
//     lab.waitForNmbd("pc1", "scan");
//     auto table = lab.nmblookupTable("scan", "10.77.0.11");
//     NetnsLab::ScopedEnter in(lab, "scan");             // sockets made now live in "scan"

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <vector>

namespace corvane::test {

class NetnsLab
{
public:
    struct RunResult
    {
        int exitCode = -1; // -1 also when the program could not start or was killed at its time-out
        bool timedOut = false;
        QString out;
        QString err;
    };

    struct NmbdConfig
    {
        QString netbiosName;
        QString workgroup;
        QStringList aliases;
        bool localMaster = false; // true: preferred master, os level 255, wins the election quickly
        QString extra;            // more [global] lines, verbatim
    };

    struct NameEntry
    {
        QString name; // up to 15 characters, trailing blanks removed, unprintables as '.'
        int suffix = 0;
        bool group = false;
        bool operator==(const NameEntry&) const = default;
    };

    NetnsLab();
    ~NetnsLab();
    NetnsLab(const NetnsLab&) = delete;
    NetnsLab& operator=(const NetnsLab&) = delete;

    bool ok() const { return m_ok; }
    QString lastError() const { return m_error; }
    QString prefix() const { return m_prefix; }
    QString ns(const QString& host) const { return m_prefix + host; }
    QString tempDir() const { return m_dir.path(); }

    // An L2 segment: a bridge "br0" inside its own namespace.
    bool addSegment(const QString& segment);
    // A host namespace (lo up) with an interface on the segment; cidr like "10.77.0.11/24".
    // A host can be added to more segments (a router): each call adds eth0, eth1, ...
    // mac, like "00:11:22:33:44:55", sets the interface's adapter address; empty keeps a random one.
    bool addHost(const QString& host, const QString& segment, const QString& cidr, const QString& mac = {});
    QString interfaceOf(const QString& host, const QString& segment) const;
    // A router joining segments: one interface per {segment, cidr}, ip_forward on.
    bool addRouter(const QString& host, const QList<std::pair<QString, QString>>& legs);
    bool setSysctl(const QString& host, const QString& key, const QString& value);
    // "ip route add <args>" in the host, e.g. {"default", "via", "10.1.0.1"}, {"unreachable", "10.9.9.0/24"}.
    bool addRoute(const QString& host, const QStringList& routeArgs);
    // A lossy segment for the name service: its bridge drops percent of the UDP 137 datagrams it
    // forwards, each way, at random (nftables; this kernel has no netem). A drop on the bridge is
    // silent, as on a wire; one in a host's output would fail the send instead. 0 removes the loss.
    bool setNetbiosLoss(const QString& segment, int percent);
    // Datagrams the loss has dropped so far; -1 when it cannot be read.
    int netbiosDropped(const QString& segment);

    // Runs argv in the host's namespace ("" = the caller's current one) and waits at most timeoutMs.
    RunResult run(const QString& host, const QStringList& argv, int timeoutMs = 10000);
    // The same as uid/gid (setpriv: no supplementary groups, no inheritable caps, no-new-privs).
    RunResult runAsUser(const QString& host, int uid, int gid, const QStringList& argv, int timeoutMs = 10000);
    // A long-running peer, killed at teardown; nullptr when it does not start. Owned by the lab.
    QProcess* spawn(const QString& host, const QStringList& argv);

    // nmbd in the host with a private smb.conf and state dirs (its unexpected-packet socket too),
    // bound to the host's interfaces.
    bool startNmbd(const QString& host, const NmbdConfig& config);
    // Follows nmbd's start: its process runs, it has bound UDP 137 in its namespace, and its name
    // table (seen from fromHost) holds its names and aliases <00>/<20> and its workgroup <00>/<1e>.
    // Fails at once when nmbd exits; timeoutMs only bounds a start that makes no progress.
    bool waitForNmbd(const QString& host, const QString& fromHost, int timeoutMs = 60000);
    // Until the host holds <workgroup><1d> and __MSBROWSE__<01>; nmbd needs about 20 s for this.
    bool waitForMasterBrowser(const QString& host, const QString& fromHost, int timeoutMs = 60000);
    // avahi-daemon in the host, answering mDNS for hostName.local (its reverse PTR included): no
    // D-Bus, its own config and runtime dir in the lab's temp dir (a private mount of /run).
    bool startAvahi(const QString& host, const QString& hostName);
    // Until the host's avahi answers a unicast reverse query for its address from fromHost.
    bool waitForAvahi(const QString& host, const QString& fromHost, int timeoutMs = 30000);
    // dnsmasq in the host as a DNS server on its address, authoritative for the records given as
    // {name, address}: forward and reverse. Waits until it has bound UDP 53.
    bool startDnsmasq(const QString& host, const QList<std::pair<QString, QString>>& records, int timeoutMs = 10000);
    // Makes server the resolver of programs run in the host (/etc/netns/NS/resolv.conf, which
    // "ip netns exec" mounts over /etc/resolv.conf); removed again at teardown.
    bool setResolver(const QString& host, const QString& server);

    // "nmblookup -A ip" from fromHost's namespace, with the lab's client settings.
    RunResult nmblookup(const QString& fromHost, const QString& ip, int timeoutMs = 5000);
    // Its name table; empty when no reply.
    QList<NameEntry> nmblookupTable(const QString& fromHost, const QString& ip, int timeoutMs = 5000);
    static QList<NameEntry> parseNmblookup(const QString& output);
    QString addressOf(const QString& host) const; // first address given to addHost, without prefix

    // Namespace of the calling thread.
    bool enter(const QString& host);
    bool leave();

    class ScopedEnter
    {
    public:
        ScopedEnter(NetnsLab& lab, const QString& host) : m_lab(lab), m_ok(lab.enter(host)) {}
        ~ScopedEnter() { m_lab.leave(); }
        bool ok() const { return m_ok; }

    private:
        NetnsLab& m_lab;
        bool m_ok;
    };

    // Namespaces whose name starts with prefix (to check that none are left).
    static QStringList namespacesWithPrefix(const QString& prefix);

private:
    bool fail(const QString& what);
    bool ip(const QStringList& args);
    bool createNs(const QString& name);
    bool ensureSmbConf();
    bool nmbdGone(const QString& host);

    QString m_prefix;
    QTemporaryDir m_dir;
    int m_homeNetFd = -1;
    bool m_ok = true;
    QString m_error;
    std::vector<QString> m_namespaces;             // creation order; deleted in reverse
    std::map<QString, std::map<QString, QString>> m_ifaces; // host -> segment -> interface
    std::map<QString, QString> m_addresses;        // host -> first address
    std::map<QString, int> m_segmentPorts;         // segment -> veths made so far
    std::map<QString, NmbdConfig> m_nmbd;
    std::map<QString, QProcess*> m_nmbdProcess;
    std::map<QString, QProcess*> m_avahiProcess;
    std::vector<QString> m_resolverDirs; // /etc/netns/NS made by setResolver
    bool m_madeEtcNetns = false;
    std::vector<std::unique_ptr<QProcess>> m_peers;
    QString m_clientConf;
};

} // namespace corvane::test
