#pragma once
// The Errors page: a bounded log shown in a text box that wraps its lines.

#include "support/BoundedLog.h"

#include <QString>

class QPlainTextEdit;

class TErrorPage
{
public:
    explicit TErrorPage(QPlainTextEdit* box);
    void add(const QString& line);
    void clear();
    const corvane::TBoundedLog& log() const { return m_log; }

private:
    QPlainTextEdit* m_box;
    corvane::TBoundedLog m_log;
};
