#pragma once
// What the window's Scan takes from its fields before anything is sent: the range of "First IP" and
// "Last" under corvane-scan's address rule, the range forms the first field also takes, and the
// ping time-out. Every refusal names its field and says why. Widget-free.

#include "platform/Ipv4.h"

#include <QString>

#include <optional>

namespace corvane {

// The surveys of the window's pages; each walks a range under the signed walk rule.
enum class TSurvey { NodeStatus, Ping, Devices };

// The fields as their labels name them.
inline const QString kFirstField = QStringLiteral("First IP");
inline const QString kLastField = QStringLiteral("Last");
inline const QString kTimeoutField = QStringLiteral("Timeout");

// Why a text is not a dotted quad of four decimal numbers 0 to 255 without leading zeros; empty
// when it is one.
QString address_text_error(const QString& text);

struct TFieldsRange
{
    std::optional<ipv4::THostRange> range;
    QString error; // "FIELD: reason", one line, when range is empty
};

// The range of the two fields (blanks around an address are dropped). Refused: a field that is empty
// or no address, a last address below the first, a range that begins at 0.0.0.0, and a range that
// crosses 128.0.0.0, which neither survey's walk can take.
TFieldsRange fields_range(const QString& first, const QString& last, TSurvey survey);

// The first field holding one of corvane-scan's range forms, ADDRESS/PREFIX or FIRST-LAST: the range
// it gives or the error naming the field. Nothing when the text holds neither '/' nor '-'.
std::optional<TFieldsRange> first_field_form(const QString& text);

// The time-out field: whole milliseconds in this range.
inline constexpr int kMinTimeoutMs = 1;
inline constexpr int kMaxTimeoutMs = 60000;

struct TTimeout
{
    std::optional<int> ms;
    bool replaced = false; // the text was no number: 30 is used and written back
    QString error; // "Timeout: reason" when ms is empty
};
TTimeout timeout_field(const QString& text);

} // namespace corvane
