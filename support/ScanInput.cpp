#include "support/ScanInput.h"

#include "support/LanRange.h"

#include <QStringList>

namespace corvane {

namespace {

using ipv4::dotted;
using ipv4::THostAddr;

const QString kAddressHint = QStringLiteral("four numbers from 0 to 255, such as 192.168.1.1");

QString field_error(const QString& field, const QString& reason)
{
    return field + QStringLiteral(": ") + reason;
}

} // namespace

QString address_text_error(const QString& text)
{
    if (ipv4::parse_strict(text))
        return {};
    const QString quoted = u'\'' + text + u'\'';
    for (QChar c : text)
        if (c != u'.' && (c < u'0' || c > u'9'))
            return quoted + QStringLiteral(" is not an IPv4 address: an address is ") + kAddressHint;
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4 || parts.contains(QString()))
        return quoted + QStringLiteral(" is not a whole IPv4 address: it needs ") + kAddressHint;
    for (const QString& part : parts) {
        if (part.size() > 1 && part.front() == u'0') {
            QString plain = part;
            while (plain.size() > 1 && plain.front() == u'0')
                plain.remove(0, 1);
            // inet_aton reads 010 as 8; corvane-scan refuses it, and so does the window.
            return quoted
                + QStringLiteral(" has a leading zero in %1: write %2 (a leading zero can mean octal)")
                      .arg(part, plain);
        }
    }
    for (const QString& part : parts)
        if (part.size() > 3 || part.toInt() > 255)
            return quoted + QStringLiteral(" is not an IPv4 address: %1 is above 255").arg(part);
    return quoted + QStringLiteral(" is not an IPv4 address");
}

TFieldsRange fields_range(const QString& firstText, const QString& lastText, TSurvey survey)
{
    const auto refuse = [](const QString& field, const QString& reason) {
        return TFieldsRange {std::nullopt, field_error(field, reason)};
    };
    const QString texts[2] = {firstText.trimmed(), lastText.trimmed()};
    const QString fields[2] = {kFirstField, kLastField};
    THostAddr ends[2];
    for (int i = 0; i < 2; ++i) {
        if (texts[i].isEmpty())
            return refuse(fields[i], QStringLiteral("the field is empty"));
        if (const QString why = address_text_error(texts[i]); !why.isEmpty())
            return refuse(fields[i], why);
        ends[i] = *ipv4::parse_strict(texts[i]);
    }
    const auto [first, last] = ends;
    if (first.value == 0)
        return refuse(kFirstField, QStringLiteral("a range cannot begin at 0.0.0.0"));
    if (last.value < first.value)
        return refuse(kLastField, QStringLiteral("%1 is below %2 %3").arg(dotted(last), kFirstField, dotted(first)));
    const ipv4::THostRange range {first, last};
    const QString walk = walk_range_error(range, survey == TSurvey::NodeStatus ? QStringLiteral("a node-status scan")
                                                 : survey == TSurvey::Ping       ? QStringLiteral("a ping sweep")
                                                                                 : QStringLiteral("a device survey"));
    if (!walk.isEmpty())
        return refuse(kLastField, walk);
    return {range, {}};
}

std::optional<TFieldsRange> first_field_form(const QString& text)
{
    const QString word = text.trimmed();
    if (!word.contains(u'/') && !word.contains(u'-'))
        return std::nullopt;
    const TRangeResult r = parse_range({word});
    if (!r.range)
        return TFieldsRange {std::nullopt, field_error(kFirstField, r.error)};
    return TFieldsRange {r.range, {}};
}

TTimeout timeout_field(const QString& text)
{
    bool isNumber = false;
    const int ms = text.toInt(&isNumber);
    if (!isNumber)
        return {30, true, {}};
    if (ms < kMinTimeoutMs || ms > kMaxTimeoutMs)
        return {std::nullopt, false,
                field_error(
                    kTimeoutField,
                    QStringLiteral("%1 ms is outside %2 to %3 ms").arg(text).arg(kMinTimeoutMs).arg(kMaxTimeoutMs))};
    return {ms, false, {}};
}

} // namespace corvane
