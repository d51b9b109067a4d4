#pragma once
// A log of lines that keeps the newest ones only and folds a line repeated in a row into one line
// with a count: a scan over millions of addresses can fail once per address. Widget-free; the
// window's Errors page shows one.

#include <QString>

#include <deque>

namespace corvane {

class TBoundedLog
{
public:
    static constexpr int kDefaultCapacity = 10000;
    explicit TBoundedLog(int capacity = kDefaultCapacity)
        : m_capacity(capacity < 1 ? 1 : capacity)
    { }

    // What append did to the shown lines: a new last line (the oldest line gone when the log was
    // full), or the last line replaced by its repeat count.
    enum class TChange { Appended, LastReplaced };
    TChange append(const QString& line);
    void clear() { m_entries.clear(); }

    int capacity() const { return m_capacity; }
    int size() const { return int(m_entries.size()); }
    // The shown text of line i, oldest first: the line, and " (repeated N times)" when it came N times
    // in a row.
    QString line(int i) const;
    QString last() const { return m_entries.empty() ? QString() : line(size() - 1); }

private:
    struct TEntry
    {
        QString text;
        int count = 1;
    };
    std::deque<TEntry> m_entries;
    int m_capacity;
};

} // namespace corvane
