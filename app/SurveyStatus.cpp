#include "app/SurveyStatus.h"

namespace {
// A box's lines are broken by carriage returns, as the finished line always was.
QString with_line(QString text, const QString& line)
{
    return line.isEmpty() ? text : text + u'\r' + line;
}
} // namespace

QString stopped_line(const TSurveyEnd& end)
{
    if (!end.stopped)
        return {};
    return QStringLiteral("Stopped after %1 of %2 addresses.").arg(end.done).arg(end.total);
}

QString scan_end_text(int found, const TSurveyEnd& end)
{
    QString text = with_line(QString::asprintf("Scanning finished.\rComputers founded: %d", found), stopped_line(end));
    if (end.unqueried > 0)
        text = with_line(text,
                         QStringLiteral("%1 addresses could not be queried; see the page Errors").arg(end.unqueried));
    return text;
}

QString ping_end_text(const TSurveyEnd& end)
{
    return with_line(QStringLiteral("Ping finished."), stopped_line(end));
}

QString errors_tab_title(std::uint64_t lines)
{
    return lines == 0 ? QStringLiteral("Errors") : QStringLiteral("Errors (%1)").arg(lines);
}
