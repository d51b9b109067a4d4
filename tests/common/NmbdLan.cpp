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
    bool built = lab.ok() && lab.addSegment(plan.segment)
        && lab.addHost(plan.scanner, plan.segment, cidr(plan.scannerAddress));
    for (const LanHost& h : plan.hosts) {
        NetnsLab::NmbdConfig c;
        c.netbiosName = h.netbiosName;
        c.workgroup = h.workgroup;
        c.aliases = h.aliases;
        c.localMaster = h.master;
        built = built && lab.addHost(h.host, plan.segment, cidr(h.address), h.mac) && lab.startNmbd(h.host, c);
    }
    for (qsizetype i = 0; i < plan.quiet.size(); ++i)
        built = built && lab.addHost(QStringLiteral("quiet%1").arg(i), plan.segment, cidr(plan.quiet[i]));
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
