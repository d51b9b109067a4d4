#include "NmbdLan.h"

namespace corvane::test {

QString nmbdLanMissing()
{
    if (!isRoot())
        return QStringLiteral("needs root (port 137, raw ICMP or network namespaces)");
    for (const char* program : {"ip", "nmbd", "nmblookup"})
        if (!hasProgram(QLatin1String(program)))
            return QStringLiteral("needs the program ") + QLatin1String(program);
    return {};
}

QString buildNmbdLan(NetnsLab& lab, const LanPlan& plan)
{
    const auto cidr = [&](const QString& address) -> QString {
        return address + QStringLiteral("/%1").arg(plan.prefixLength);
    };
    bool built = lab.ok() && lab.addSegment(plan.segment);
    if (const std::optional<LanRouter>& r = plan.router) {
        built = built && lab.addSegment(r->segment)
            && lab.addHost(plan.scanner, r->segment, plan.scannerAddress + QStringLiteral("/24"))
            && lab.addRouter(r->host, {{r->segment, r->nearAddress + QStringLiteral("/24")},
                                       {plan.segment, r->farAddress + QStringLiteral("/32")}})
            && lab.addRoute(r->host, {QStringLiteral("blackhole"), r->hostsNet})
            && lab.addRoute(plan.scanner, {r->hostsNet, QStringLiteral("via"), r->nearAddress});
    } else {
        built = built && lab.addHost(plan.scanner, plan.segment, cidr(plan.scannerAddress));
    }
    // Behind the router a host answers the scanner through it, and the router reaches the host alone.
    const auto routed = [&](const QString& host, const QString& address) {
        const std::optional<LanRouter>& r = plan.router;
        return !r
            || (lab.addRoute(host, {plan.scannerAddress + QStringLiteral("/32"), QStringLiteral("via"), r->farAddress})
                && lab.addRoute(r->host, {address + QStringLiteral("/32"), QStringLiteral("dev"),
                                          lab.interfaceOf(r->host, plan.segment)}));
    };
    for (const LanHost& h : plan.hosts) {
        NetnsLab::NmbdConfig c;
        c.netbiosName = h.netbiosName;
        c.workgroup = h.workgroup;
        c.aliases = h.aliases;
        c.localMaster = h.master;
        built = built && lab.addHost(h.host, plan.segment, cidr(h.address), h.mac) && routed(h.host, h.address)
            && lab.startNmbd(h.host, c);
    }
    for (qsizetype i = 0; i < plan.quiet.size(); ++i)
        built = built && lab.addHost(QStringLiteral("quiet%1").arg(i), plan.segment, cidr(plan.quiet[i]))
            && routed(QStringLiteral("quiet%1").arg(i), plan.quiet[i]);
    // All nmbd start together, so the elections run side by side.
    for (const LanHost& h : plan.hosts)
        built = built && lab.waitForNmbd(h.host, plan.scanner);
    for (const LanHost& h : plan.hosts)
        built = built && (!h.master || lab.waitForMasterBrowser(h.host, plan.scanner));
    if (built && lab.ok())
        return {};
    return QStringLiteral("cannot build the nmbd LAN: ") + lab.lastError();
}

std::map<QString, QList<NetnsLab::NameEntry>> nmblookupTables(NetnsLab& lab, const LanPlan& plan)
{
    std::map<QString, QList<NetnsLab::NameEntry>> tables;
    for (const LanHost& h : plan.hosts)
        tables[h.address] = lab.nmblookupTable(plan.scanner, h.address);
    return tables;
}

} // namespace corvane::test
