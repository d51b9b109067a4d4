#pragma once
// A LAN of nmbd hosts on one segment of a NetnsLab, built from a plan table, and the rule for a
// LAN that cannot be built here: skipped outside CI, a failure in CI (see CORVANE_SKIP_OR_FAIL).
//
//     const LanPlan plan{"scan", "10.77.10.2", {{"nb1", "10.77.10.11", "PC1", "WG1"}}, {"10.77.10.21"}};
//     CORVANE_BUILD_NMBD_LAN(lab, plan);            // in a test function or initTestCase()
//     NetnsLab::ScopedEnter in(lab, plan.scanner);  // sockets made now live in the scanner's namespace

#include "NetnsLab.h"
#include "TestSupport.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

namespace corvane::test {

struct LanHost
{
    QString host;        // the lab's name for its namespace
    QString address;     // on the segment, without the prefix length
    QString netbiosName;
    QString workgroup;
    QStringList aliases = {};
    bool master = false; // the local master browser: the build waits for its election (about 20 s)
    QString mac = {};    // the adapter's address; nmbd still reports zeros. Empty: a random one
};

// Hosts behind a router: the scanner shares a /24 of its own with the router, which reaches each host
// by a /32 route and drops the rest of the hosts' prefix (a blackhole route), as a router in front of
// a sparse subnet does; the scanner reaches that prefix through it.
struct LanRouter
{
    QString hostsNet;    // the hosts' prefix, e.g. "10.216.0.0/16"
    QString nearAddress; // the router's address on the scanner's /24
    QString farAddress;  // the router's address in the hosts' prefix, on their segment as a /32
    QString host = QStringLiteral("router");
    QString segment = QStringLiteral("near"); // the scanner's
};

struct LanPlan
{
    QString scanner;              // the host the scans run from
    QString scannerAddress;
    QList<LanHost> hosts;         // each runs nmbd
    QStringList quiet = {};       // hosts "quiet0", "quiet1" ...: up, answering ping, no name service
    int prefixLength = 24;        // of the hosts' addresses (a /16 spreads them over 65,534 addresses)
    QString segment = QStringLiteral("lan");
    std::optional<LanRouter> router = {}; // set: scannerAddress is on the router's /24, not on segment
};

// Why an nmbd LAN cannot be built on this machine (root, ip, nmbd, nmblookup); empty when it can.
QString nmbdLanMissing();
// Builds the plan in lab and waits until every nmbd answers (and every master has won its
// election). Empty when done, else what went wrong.
QString buildNmbdLan(NetnsLab& lab, const LanPlan& plan);
// Each host's name table as nmblookup -A sees it from the scanner, by address.
std::map<QString, QList<NetnsLab::NameEntry>> nmblookupTables(NetnsLab& lab, const LanPlan& plan);

} // namespace corvane::test

// A missing prerequisite skips or fails by CORVANE_SKIP_OR_FAIL; a LAN that does not come up with
// everything present is a failure.
#define CORVANE_BUILD_NMBD_LAN(lab, plan)                                                                              \
    do {                                                                                                               \
        const QString missing_ = corvane::test::nmbdLanMissing();                                                      \
        if (!missing_.isEmpty())                                                                                       \
            CORVANE_SKIP_OR_FAIL(qPrintable(missing_));                                                                \
        const QString failed_ = corvane::test::buildNmbdLan(lab, plan);                                                \
        QVERIFY2(failed_.isEmpty(), qPrintable(failed_));                                                              \
    } while (false)
