#pragma once
// The Errors page: a bounded log shown in a text box that wraps its lines, and its count in the
// page's tab title.

#include "support/BoundedLog.h"

#include <QString>
#include <QTimer>

#include <cstdint>

class QPlainTextEdit;
class QTabWidget;

class TErrorPage
{
public:
    // tabs: the tab control whose page holds box; its title shows the count of lines.
    explicit TErrorPage(QPlainTextEdit* box, QTabWidget* tabs = nullptr);
    void add(const QString& line);
    void clear();
    const corvane::TBoundedLog& log() const { return m_log; }
    // Lines added since the last clear, repeats and lines the log dropped included.
    std::uint64_t count() const { return m_count; }
    // Shows the count in the title now instead of with the next paced update.
    void showCount();

private:
    QPlainTextEdit* m_box;
    QTabWidget* m_tabs;
    corvane::TBoundedLog m_log;
    std::uint64_t m_count = 0;
    QTimer m_titlePacer;
};
