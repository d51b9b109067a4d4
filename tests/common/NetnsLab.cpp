#include "NetnsLab.h"
#include "ProgramRun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sched.h>
#include <unistd.h>

namespace corvane::test {

namespace {

QString netnsPath(const QString& name)
{
    return QStringLiteral("/run/netns/") + name;
}

} // namespace

NetnsLab::NetnsLab() : m_prefix(QStringLiteral("cvl%1-").arg(::getpid()))
{
    m_homeNetFd = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (m_homeNetFd < 0)
        fail(QStringLiteral("cannot open the current network namespace"));
    if (!m_dir.isValid())
        fail(QStringLiteral("cannot create a temp dir"));
    // Lab peers read nothing from /etc/samba.
    if (m_ok)
        ensureSmbConf();
}

NetnsLab::~NetnsLab()
{
    leave();
    for (auto& p : m_peers) {
        if (p->state() == QProcess::NotRunning)
            continue;
        p->terminate();
        if (!p->waitForFinished(2000)) {
            p->kill();
            p->waitForFinished(2000);
        }
    }
    m_peers.clear();
    for (const QString& dir : m_resolverDirs)
        QDir(dir).removeRecursively();
    if (m_madeEtcNetns)
        QDir().rmdir(QStringLiteral("/etc/netns")); // only when empty: another lab may still use it
    for (auto it = m_namespaces.rbegin(); it != m_namespaces.rend(); ++it) {
        // Deleting a namespace also destroys the veths in it, and their peers.
        QProcess p;
        p.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("del"), *it});
        p.waitForFinished(5000);
    }
    if (m_homeNetFd >= 0)
        ::close(m_homeNetFd);
}

bool NetnsLab::fail(const QString& what)
{
    if (m_ok)
        m_error = what;
    else
        m_error += QStringLiteral("; ") + what;
    m_ok = false;
    return false;
}

bool NetnsLab::ip(const QStringList& args)
{
    const RunResult r = run({}, QStringList{QStringLiteral("ip")} + args);
    if (r.exitCode != 0)
        return fail(QStringLiteral("ip %1: %2").arg(args.join(QLatin1Char(' ')), r.err.trimmed()));
    return true;
}

bool NetnsLab::createNs(const QString& name)
{
    if (!ip({QStringLiteral("netns"), QStringLiteral("add"), name}))
        return false;
    m_namespaces.push_back(name);
    return ip({QStringLiteral("-n"), name, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
               QStringLiteral("up")});
}

bool NetnsLab::addSegment(const QString& segment)
{
    const QString n = ns(QStringLiteral("seg-") + segment);
    return createNs(n)
        && ip({QStringLiteral("-n"), n, QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("br0"),
               QStringLiteral("type"), QStringLiteral("bridge")})
        && ip({QStringLiteral("-n"), n, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("br0"),
               QStringLiteral("up")});
}

bool NetnsLab::addHost(const QString& host, const QString& segment, const QString& cidr, const QString& mac)
{
    const QString h = ns(host);
    const QString s = ns(QStringLiteral("seg-") + segment);
    if (std::find(m_namespaces.begin(), m_namespaces.end(), s) == m_namespaces.end())
        return fail(QStringLiteral("no segment ") + segment);
    const bool fresh = std::find(m_namespaces.begin(), m_namespaces.end(), h) == m_namespaces.end();
    if (fresh && !createNs(h))
        return false;
    const QString ifname = QStringLiteral("eth%1").arg(m_ifaces[host].size());
    const QString port = QStringLiteral("p%1").arg(m_segmentPorts[segment]++);
    // Both ends are made in the bridge's namespace; the root namespace never sees them.
    if (!ip({QStringLiteral("-n"), s, QStringLiteral("link"), QStringLiteral("add"), port, QStringLiteral("type"),
             QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), ifname, QStringLiteral("netns"),
             h})
        || !ip({QStringLiteral("-n"), s, QStringLiteral("link"), QStringLiteral("set"), port, QStringLiteral("master"),
                QStringLiteral("br0"), QStringLiteral("up")})
        || !ip({QStringLiteral("-n"), h, QStringLiteral("addr"), QStringLiteral("add"), cidr, QStringLiteral("dev"),
                ifname})
        || (!mac.isEmpty()
            && !ip({QStringLiteral("-n"), h, QStringLiteral("link"), QStringLiteral("set"), ifname,
                    QStringLiteral("address"), mac}))
        || !ip({QStringLiteral("-n"), h, QStringLiteral("link"), QStringLiteral("set"), ifname, QStringLiteral("up")}))
        return false;
    m_ifaces[host][segment] = ifname;
    if (!m_addresses.count(host))
        m_addresses[host] = cidr.section(QLatin1Char('/'), 0, 0);
    return true;
}

QString NetnsLab::interfaceOf(const QString& host, const QString& segment) const
{
    const auto h = m_ifaces.find(host);
    if (h == m_ifaces.end())
        return {};
    const auto s = h->second.find(segment);
    return s == h->second.end() ? QString() : s->second;
}

QString NetnsLab::addressOf(const QString& host) const
{
    const auto it = m_addresses.find(host);
    return it == m_addresses.end() ? QString() : it->second;
}

bool NetnsLab::addRouter(const QString& host, const QList<std::pair<QString, QString>>& legs)
{
    for (const auto& [segment, cidr] : legs)
        if (!addHost(host, segment, cidr))
            return false;
    return setSysctl(host, QStringLiteral("net.ipv4.ip_forward"), QStringLiteral("1"));
}

bool NetnsLab::setSysctl(const QString& host, const QString& key, const QString& value)
{
    const RunResult r = run(host, {QStringLiteral("sysctl"), QStringLiteral("-q"), QStringLiteral("-w"),
                                   key + QLatin1Char('=') + value});
    if (r.exitCode != 0)
        return fail(QStringLiteral("sysctl %1=%2 in %3: %4").arg(key, value, host, r.err.trimmed()));
    return true;
}

bool NetnsLab::addRoute(const QString& host, const QStringList& routeArgs)
{
    return ip(QStringList{QStringLiteral("-n"), ns(host), QStringLiteral("route"), QStringLiteral("add")} + routeArgs);
}

bool NetnsLab::setNetbiosLoss(const QString& segment, int percent)
{
    const QString bridge = QStringLiteral("seg-") + segment;
    run(bridge, {QStringLiteral("nft"), QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("bridge"),
                 QStringLiteral("cvloss")});
    if (percent <= 0)
        return true;
    const QString chance = percent >= 100 ? QString() : QStringLiteral("numgen random mod 100 < %1 ").arg(percent);
    const QString rules = QStringLiteral("table bridge cvloss {\n"
                                         "  chain forward {\n"
                                         "    type filter hook forward priority 0;\n"
                                         "    udp dport 137 %1counter drop\n"
                                         "    udp sport 137 %1counter drop\n"
                                         "  }\n"
                                         "}\n")
                              .arg(chance);
    const QString file = m_dir.filePath(QStringLiteral("loss-") + segment + QStringLiteral(".nft"));
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly) || f.write(rules.toLatin1()) < 0)
        return fail(QStringLiteral("cannot write ") + file);
    f.close();
    const RunResult r = run(bridge, {QStringLiteral("nft"), QStringLiteral("-f"), file});
    return r.exitCode == 0 || fail(QStringLiteral("nft on segment %1: %2").arg(segment, r.err.trimmed()));
}

int NetnsLab::netbiosDropped(const QString& segment)
{
    const RunResult r = run(QStringLiteral("seg-") + segment, {QStringLiteral("nft"), QStringLiteral("list"),
                                                               QStringLiteral("table"), QStringLiteral("bridge"),
                                                               QStringLiteral("cvloss")});
    if (r.exitCode != 0)
        return -1;
    static const QRegularExpression counter(QStringLiteral("counter packets (\\d+)"));
    int dropped = 0;
    for (auto it = counter.globalMatch(r.out); it.hasNext();)
        dropped += it.next().captured(1).toInt();
    return dropped;
}

NetnsLab::RunResult NetnsLab::run(const QString& host, const QStringList& argv, int timeoutMs)
{
    RunResult r;
    if (argv.isEmpty())
        return r;
    QStringList full = argv;
    if (!host.isEmpty())
        full = QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), ns(host)} + argv;
    const ProgramRun p = runProgram(full.first(), full.mid(1), ProgramOptions().timeout(timeoutMs));
    r.exitCode = p.code;
    r.timedOut = p.timedOut;
    r.out = QString::fromLocal8Bit(p.out);
    r.err = p.startError.isEmpty() ? QString::fromLocal8Bit(p.err) : p.startError;
    return r;
}

NetnsLab::RunResult NetnsLab::runAsUser(const QString& host, int uid, int gid, const QStringList& argv, int timeoutMs)
{
    return run(host,
               QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=%1").arg(uid),
                           QStringLiteral("--regid=%1").arg(gid), QStringLiteral("--clear-groups"),
                           QStringLiteral("--inh-caps=-all"), QStringLiteral("--no-new-privs")}
                   + argv,
               timeoutMs);
}

QProcess* NetnsLab::spawn(const QString& host, const QStringList& argv)
{
    if (argv.isEmpty())
        return nullptr;
    QStringList full = argv;
    if (!host.isEmpty())
        full = QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), ns(host)} + argv;
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->setStandardOutputFile(QProcess::nullDevice());
    p->start(full.first(), full.mid(1));
    if (!p->waitForStarted(5000)) {
        fail(QStringLiteral("cannot start %1: %2").arg(argv.first(), p->errorString()));
        return nullptr;
    }
    m_peers.push_back(std::move(p));
    return m_peers.back().get();
}

bool NetnsLab::ensureSmbConf()
{
    m_clientConf = m_dir.filePath(QStringLiteral("client.conf"));
    QFile f(m_clientConf);
    if (!f.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write ") + m_clientConf);
    const QString d = m_dir.filePath(QStringLiteral("client"));
    QDir().mkpath(d);
    f.write(QStringLiteral("[global]\n"
                           "lock directory = %1\nstate directory = %1\ncache directory = %1\n"
                           "pid directory = %1\nprivate dir = %1\nncalrpc dir = %1\n"
                           "nmbd:socket dir = %1/nmbd\nlog file = %1/client.log\n")
                .arg(d)
                .toLocal8Bit());
    return true;
}

bool NetnsLab::startNmbd(const QString& host, const NmbdConfig& c)
{
    const auto ifs = m_ifaces.find(host);
    if (ifs == m_ifaces.end())
        return fail(QStringLiteral("no host ") + host);
    QStringList names;
    for (const auto& kv : ifs->second)
        names << kv.second;
    const QString d = m_dir.filePath(QStringLiteral("nmbd-") + host);
    const QString conf = d + QStringLiteral("/smb.conf");
    for (const char* sub : {"lock", "state", "cache", "pid", "log", "private", "ncalrpc", "binddns", "socket"})
        QDir().mkpath(d + QLatin1Char('/') + QLatin1String(sub));
    QString text = QStringLiteral("[global]\n"
                                  "netbios name = %1\nworkgroup = %2\n")
                       .arg(c.netbiosName, c.workgroup);
    if (!c.aliases.isEmpty())
        text += QStringLiteral("netbios aliases = %1\n").arg(c.aliases.join(QLatin1Char(' ')));
    text += QStringLiteral("interfaces = %1\nbind interfaces only = yes\n").arg(names.join(QLatin1Char(' ')));
    text += c.localMaster ? QStringLiteral("local master = yes\npreferred master = yes\nos level = 255\n")
                          : QStringLiteral("local master = no\npreferred master = no\nos level = 0\n");
    text += QStringLiteral("domain master = no\nwins support = no\ndns proxy = no\n"
                           "disable spoolss = yes\nload printers = no\nprinting = bsd\nprintcap name = /dev/null\n"
                           "lock directory = %1/lock\nstate directory = %1/state\ncache directory = %1/cache\n"
                           "pid directory = %1/pid\nprivate dir = %1/private\nncalrpc dir = %1/ncalrpc\n"
                           "binddns dir = %1/binddns\nlog file = %1/log/nmbd.log\n"
                           // Else every nmbd on the machine, in any namespace, takes over the one
                           // /run/samba/nmbd/unexpected, and nmblookup talks to whichever came last.
                           "nmbd:socket dir = %1/socket\n")
                .arg(d);
    text += c.extra;
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly) || f.write(text.toLocal8Bit()) < 0)
        return fail(QStringLiteral("cannot write ") + conf);
    f.close();
    QProcess* p = spawn(host, {QStringLiteral("nmbd"), QStringLiteral("-F"), QStringLiteral("--no-process-group"),
                               QStringLiteral("--configfile=") + conf, QStringLiteral("-d0")});
    if (!p)
        return false;
    m_nmbd[host] = c;
    m_nmbdProcess[host] = p;
    return true;
}

QList<NetnsLab::NameEntry> NetnsLab::parseNmblookup(const QString& output)
{
    // "\tNAME           <20> - <GROUP> B <ACTIVE> ": nmblookup prints 15 name characters, unprintables as '.'.
    static const QRegularExpression line(QStringLiteral("^\\t(.{15}) <([0-9a-fA-F]{2})> - (<GROUP>)?"));
    QList<NameEntry> table;
    for (const QString& l : output.split(QLatin1Char('\n'))) {
        const auto m = line.match(l);
        if (!m.hasMatch())
            continue;
        NameEntry e;
        QString name = m.captured(1);
        while (name.endsWith(QLatin1Char(' ')))
            name.chop(1);
        e.name = name;
        e.suffix = m.captured(2).toInt(nullptr, 16);
        e.group = m.capturedLength(3) > 0;
        table << e;
    }
    return table;
}

NetnsLab::RunResult NetnsLab::nmblookup(const QString& fromHost, const QString& ip, int timeoutMs)
{
    const QStringList argv{QStringLiteral("nmblookup"), QStringLiteral("--configfile=") + m_clientConf,
                           QStringLiteral("-A"), ip};
    return run(fromHost, argv, timeoutMs);
}

QList<NetnsLab::NameEntry> NetnsLab::nmblookupTable(const QString& fromHost, const QString& ip, int timeoutMs)
{
    const RunResult r = nmblookup(fromHost, ip, timeoutMs);
    return r.exitCode == 0 ? parseNmblookup(r.out) : QList<NameEntry>{};
}

namespace {

bool holds(const QList<NetnsLab::NameEntry>& t, const QString& name, int suffix, bool group)
{
    return t.contains(NetnsLab::NameEntry{name.toUpper(), suffix, group});
}

} // namespace

namespace {

// Whether the process's network namespace has a UDP socket bound to the port.
bool udp_port_bound(qint64 pid, int port)
{
    QFile f(QStringLiteral("/proc/%1/net/udp").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // "  sl  local_address rem_address ...": local_address is hex "AABBCCDD:PPPP".
    const QString wanted = QStringLiteral(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 2 && QString::fromLatin1(fields[1]).endsWith(wanted))
            return true;
    }
    return false;
}

} // namespace

bool NetnsLab::nmbdGone(const QString& host)
{
    QProcess* p = m_nmbdProcess[host];
    if (p && p->state() == QProcess::Running)
        return false;
    QFile log(m_dir.filePath(QStringLiteral("nmbd-%1/log/nmbd.log").arg(host)));
    const QString tail = log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll().right(400)) : QString();
    return !fail(QStringLiteral("nmbd in %1 exited (status %2): %3")
                     .arg(host)
                     .arg(p ? p->exitCode() : -1)
                     .arg(tail.simplified()));
}

bool NetnsLab::waitForNmbd(const QString& host, const QString& fromHost, int timeoutMs)
{
    const auto c = m_nmbd.find(host);
    if (c == m_nmbd.end())
        return fail(QStringLiteral("no nmbd in ") + host);
    const QString ipText = addressOf(host);
    QDeadlineTimer deadline(timeoutMs);
    // On a loaded machine nmbd can take seconds to get going; asking before it has bound its
    // port only costs process starts.
    while (!udp_port_bound(m_nmbdProcess[host]->processId(), 137)) {
        if (nmbdGone(host))
            return false;
        if (deadline.hasExpired())
            return fail(QStringLiteral("nmbd in %1 did not bind UDP 137 within %2 ms").arg(host).arg(timeoutMs));
        QThread::msleep(20);
    }
    for (;;) {
        // nmblookup repeats its query each second for 10 s by itself: let it, rather than start
        // it again and again.
        const auto t = nmblookupTable(fromHost, ipText, 12000);
        bool all = holds(t, c->second.workgroup, 0x00, true) && holds(t, c->second.workgroup, 0x1e, true);
        for (const QString& n : QStringList{c->second.netbiosName} + c->second.aliases)
            all = all && holds(t, n, 0x00, false) && holds(t, n, 0x20, false);
        if (all)
            return true;
        if (nmbdGone(host))
            return false;
        if (deadline.hasExpired())
            return fail(QStringLiteral("nmbd in %1 bound UDP 137 but did not answer with its names within %2 ms "
                                       "(last answer: %3 names)")
                            .arg(host)
                            .arg(timeoutMs)
                            .arg(t.size()));
        QThread::msleep(200);
    }
}

bool NetnsLab::waitForMasterBrowser(const QString& host, const QString& fromHost, int timeoutMs)
{
    const auto c = m_nmbd.find(host);
    if (c == m_nmbd.end())
        return fail(QStringLiteral("no nmbd in ") + host);
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const auto t = nmblookupTable(fromHost, addressOf(host), 12000);
        if (holds(t, c->second.workgroup, 0x1d, false) && holds(t, QStringLiteral("..__MSBROWSE__."), 0x01, true))
            return true;
        if (nmbdGone(host))
            return false;
        QThread::msleep(500);
    }
    return fail(QStringLiteral("%1 did not become local master browser within %2 ms").arg(host).arg(timeoutMs));
}

bool NetnsLab::enter(const QString& host)
{
    const int fd = ::open(QFile::encodeName(netnsPath(ns(host))).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(QStringLiteral("no namespace ") + ns(host));
    const int rc = ::setns(fd, CLONE_NEWNET);
    ::close(fd);
    return rc == 0 || fail(QStringLiteral("setns into %1 failed").arg(ns(host)));
}

bool NetnsLab::leave()
{
    return m_homeNetFd >= 0 && ::setns(m_homeNetFd, CLONE_NEWNET) == 0;
}

QStringList NetnsLab::namespacesWithPrefix(const QString& prefix)
{
    QStringList found;
    for (const QString& n : QDir(QStringLiteral("/run/netns")).entryList(QDir::Files | QDir::System))
        if (n.startsWith(prefix))
            found << n;
    return found;
}

} // namespace corvane::test

namespace corvane::test {

bool NetnsLab::startAvahi(const QString& host, const QString& hostName)
{
    const QString dir = m_dir.filePath(QStringLiteral("avahi-") + host);
    if (!QDir().mkpath(dir + QStringLiteral("/run/avahi-daemon")))
        return fail(QStringLiteral("cannot make ") + dir);
    const QString conf = dir + QStringLiteral("/avahi-daemon.conf");
    QFile f(conf);
    // Rate limits off: tests ask again quickly while the daemon starts.
    const QByteArray text = "[server]\nhost-name=" + hostName.toUtf8()
        + "\ndomain-name=local\nuse-ipv4=yes\nuse-ipv6=no\nenable-dbus=no\nratelimit-interval-usec=0\n"
          "[wide-area]\nenable-wide-area=no\n"
          "[publish]\npublish-addresses=yes\npublish-hinfo=no\npublish-workstation=no\n"
          "[reflector]\nenable-reflector=no\n";
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        return fail(QStringLiteral("cannot write ") + conf);
    f.close();
    // Its pid file and socket live under /run/avahi-daemon: a private mount per daemon keeps
    // several in one lab apart and the machine's /run untouched.
    QProcess* p = spawn(host, {QStringLiteral("unshare"), QStringLiteral("-m"), QStringLiteral("--propagation"),
                               QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"),
                               QStringLiteral("mount --bind \"$0/run\" /run && exec avahi-daemon -f \"$0/avahi-daemon.conf\" "
                                              "--no-drop-root --no-chroot --no-rlimits --no-proc-title"),
                               dir});
    if (!p)
        return false;
    m_avahiProcess[host] = p;
    return true;
}

namespace {

// A legacy unicast reverse PTR query (RFC 6762 section 6.7) for dotted, built here by hand so that
// the lab does not lean on the code under test.
QByteArray reverse_query(const QString& dotted)
{
    QByteArray q("\x12\x34\0\0\0\x01\0\0\0\0\0\0", 12);
    QStringList parts = dotted.split(QLatin1Char('.'));
    std::reverse(parts.begin(), parts.end());
    for (const QString& label : parts + QStringList{QStringLiteral("in-addr"), QStringLiteral("arpa")}) {
        q.append(static_cast<char>(label.size()));
        q.append(label.toLatin1());
    }
    q.append("\0\0\x0c\0\x01", 5);
    return q;
}

} // namespace

bool NetnsLab::waitForAvahi(const QString& host, const QString& fromHost, int timeoutMs)
{
    QProcess* p = m_avahiProcess.count(host) ? m_avahiProcess[host] : nullptr;
    if (!p)
        return fail(QStringLiteral("no avahi-daemon in ") + host);
    ScopedEnter in(*this, fromHost);
    if (!in.ok())
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(QStringLiteral("no socket to ask avahi"));
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(5353);
    ::inet_pton(AF_INET, addressOf(host).toLatin1().constData(), &to.sin_addr);
    const QByteArray query = reverse_query(addressOf(host));
    QDeadlineTimer deadline(timeoutMs);
    bool answered = false;
    while (!answered && !deadline.hasExpired() && p->state() == QProcess::Running) {
        ::sendto(fd, query.constData(), static_cast<size_t>(query.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        pollfd pfd {fd, POLLIN, 0};
        char buffer[1500];
        answered = ::poll(&pfd, 1, 300) > 0 && ::recv(fd, buffer, sizeof buffer, 0) > 12;
    }
    ::close(fd);
    if (answered)
        return true;
    if (p->state() != QProcess::Running)
        return fail(QStringLiteral("avahi-daemon in %1 exited (status %2)").arg(host).arg(p->exitCode()));
    return fail(QStringLiteral("avahi-daemon in %1 did not answer within %2 ms").arg(host).arg(timeoutMs));
}

bool NetnsLab::startDnsmasq(const QString& host, const QList<std::pair<QString, QString>>& records, int timeoutMs)
{
    QStringList argv{QStringLiteral("dnsmasq"), QStringLiteral("--keep-in-foreground"), QStringLiteral("--conf-file=/dev/null"),
                     QStringLiteral("--no-resolv"), QStringLiteral("--no-hosts"), QStringLiteral("--bind-interfaces"),
                     QStringLiteral("--listen-address=") + addressOf(host), QStringLiteral("--port=53"),
                     QStringLiteral("--pid-file=") + m_dir.filePath(QStringLiteral("dnsmasq-%1.pid").arg(host))};
    for (const auto& [name, address] : records)
        argv << QStringLiteral("--host-record=%1,%2").arg(name, address);
    QProcess* p = spawn(host, argv);
    if (!p)
        return false;
    QDeadlineTimer deadline(timeoutMs);
    while (!udp_port_bound(p->processId(), 53)) {
        if (p->state() != QProcess::Running)
            return fail(QStringLiteral("dnsmasq in %1 exited (status %2)").arg(host).arg(p->exitCode()));
        if (deadline.hasExpired())
            return fail(QStringLiteral("dnsmasq in %1 did not bind UDP 53 within %2 ms").arg(host).arg(timeoutMs));
        QThread::msleep(20);
    }
    return true;
}

bool NetnsLab::setResolver(const QString& host, const QString& server)
{
    const QString dir = QStringLiteral("/etc/netns/") + ns(host);
    m_madeEtcNetns = m_madeEtcNetns || !QFile::exists(QStringLiteral("/etc/netns"));
    if (!QDir().mkpath(dir))
        return fail(QStringLiteral("cannot make ") + dir);
    m_resolverDirs.push_back(dir);
    QFile f(dir + QStringLiteral("/resolv.conf"));
    const QByteArray text = "nameserver " + server.toLatin1() + "\noptions timeout:1 attempts:1\n";
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        return fail(QStringLiteral("cannot write ") + f.fileName());
    return true;
}

} // namespace corvane::test
