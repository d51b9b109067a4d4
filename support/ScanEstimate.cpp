#include "support/ScanEstimate.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

QString count_text(std::uint64_t n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(qulonglong(n));
}

QString unit_text(double value, const char* unit)
{
    // One decimal below ten, where it still tells something; whole numbers above.
    const double shown = value < 10 ? std::round(value * 10) / 10 : std::round(value);
    QString text = QString::number(shown, 'f', shown < 10 && shown != std::floor(shown) ? 1 : 0);
    return text + u' ' + QLatin1String(unit) + (shown == 1 ? QString() : QStringLiteral("s"));
}

} // namespace

std::vector<ipv4::THostRange> on_link_nets(const std::vector<TLanInterface>& interfaces)
{
    std::vector<ipv4::THostRange> nets;
    for (const TLanInterface& i : interfaces) {
        const std::uint32_t address = ipv4::TNetAddr {i.address}.host().value;
        const std::uint32_t mask = ipv4::TNetAddr {i.netmask}.host().value;
        if ((address >> 24) == 127 || address == 0)
            continue;
        nets.push_back({{address & mask}, {address | ~mask}});
    }
    return ipv4::merge_ranges(std::move(nets));
}

TScanEstimate estimate_scan(TSurvey survey, const ipv4::THostRange& range,
                            const std::vector<ipv4::THostRange>& onLinkNets, int timeoutMs)
{
    TScanEstimate e;
    e.addresses = range.count();
    for (const ipv4::THostRange& net : ipv4::merge_ranges(onLinkNets)) {
        const std::uint32_t from = std::max(net.first.value, range.first.value);
        const std::uint32_t to = std::min(net.last.value, range.last.value);
        if (from <= to)
            e.onLink += std::uint64_t {to} - from + 1;
    }
    if (survey == TSurvey::Ping) {
        e.ms = std::int64_t(e.addresses) * std::max(timeoutMs, 1);
        return e;
    }
    const std::int64_t onLinkMs = std::max<std::int64_t>(1, kResolutionMs / std::int64_t(kPendingResolutions));
    e.ms = std::int64_t(e.addresses - e.onLink) + std::int64_t(e.onLink) * onLinkMs + 1000;
    return e;
}

QString duration_text(std::int64_t ms)
{
    const double seconds = double(std::max<std::int64_t>(ms, 0)) / 1000;
    if (seconds < 90)
        return unit_text(std::max(1.0, std::round(seconds)), "second");
    if (seconds < 90 * 60)
        return unit_text(std::round(seconds / 60), "minute");
    if (seconds < 48 * 3600)
        return unit_text(seconds / 3600, "hour");
    return unit_text(seconds / 86400, "day");
}

QString large_range_question(TSurvey survey, const ipv4::THostRange& range, const TScanEstimate& e, int timeoutMs)
{
    const QString what = QStringLiteral("%1 addresses, %2 to %3?")
                             .arg(count_text(e.addresses), ipv4::dotted(range.first), ipv4::dotted(range.last));
    if (survey == TSurvey::Ping)
        return QStringLiteral("Ping ") + what
            + QStringLiteral("\n\nThis takes up to %1: the sweep pings one address at a time, and each address "
                             "that does not answer waits for the time-out of %2 ms.")
                  .arg(duration_text(e.ms))
                  .arg(timeoutMs);
    QString why;
    if (e.onLink == 0)
        why = QStringLiteral("the scan sends one query per millisecond.");
    else
        why = QStringLiteral("%1 of them are on the local network, where the kernel's neighbour table lets about "
                             "%2 addresses that nobody answers be tried every %3 seconds; elsewhere the scan "
                             "sends one query per millisecond.")
                  .arg(count_text(e.onLink), count_text(kPendingResolutions))
                  .arg(kResolutionMs / 1000);
    if (survey == TSurvey::Devices) // it queries as the scan does where it cannot send ARP itself
        return QStringLiteral("Survey ") + what + QStringLiteral("\n\nThis takes up to about %1: ").arg(duration_text(e.ms))
            + why + QStringLiteral(" With CAP_NET_RAW the local network goes at one address per millisecond.");
    return QStringLiteral("Scan ") + what + QStringLiteral("\n\nThis takes about %1: ").arg(duration_text(e.ms)) + why;
}

std::optional<std::int64_t> time_left_ms(std::uint64_t done, std::uint64_t total, std::int64_t elapsedMs)
{
    if (elapsedMs < 5000 || done == 0 || done >= total)
        return std::nullopt;
    return std::int64_t(double(elapsedMs) * double(total - done) / double(done));
}

QString progress_text(std::uint64_t done, std::uint64_t total, std::uint64_t waiting, bool drains,
                      std::optional<std::int64_t> leftMs)
{
    QString text;
    if (waiting > 0)
        text = QStringLiteral("%1 of %2 queried, %3 waiting for address resolution").arg(done).arg(total).arg(waiting);
    else if (drains && done >= total)
        return QStringLiteral("%1 queried, waiting for late answers").arg(total);
    else
        text = QStringLiteral("%1 of %2").arg(done).arg(total);
    if (leftMs)
        text += QStringLiteral(", about %1 left").arg(duration_text(*leftMs));
    return text;
}

} // namespace corvane
