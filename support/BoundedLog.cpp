#include "support/BoundedLog.h"

namespace corvane {

TBoundedLog::TChange TBoundedLog::append(const QString& line)
{
    if (!m_entries.empty() && m_entries.back().text == line) {
        ++m_entries.back().count;
        return TChange::LastReplaced;
    }
    m_entries.push_back({line, 1});
    if (int(m_entries.size()) > m_capacity)
        m_entries.pop_front();
    return TChange::Appended;
}

QString TBoundedLog::line(int i) const
{
    const TEntry& e = m_entries.at(std::size_t(i));
    if (e.count == 1)
        return e.text;
    return e.text + QStringLiteral(" (repeated %1 times)").arg(e.count);
}

} // namespace corvane
