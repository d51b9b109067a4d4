#include "app/ErrorPage.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>

TErrorPage::TErrorPage(QPlainTextEdit* box)
    : m_box(box)
{
    // The box drops its oldest line as the log does, so the two stay line for line the same.
    m_box->setMaximumBlockCount(m_log.capacity());
    m_box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_box->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void TErrorPage::add(const QString& line)
{
    if (m_log.append(line) == corvane::TBoundedLog::TChange::Appended) {
        m_box->appendPlainText(m_log.last());
        return;
    }
    QTextCursor cursor(m_box->document()->lastBlock());
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(m_log.last());
}

void TErrorPage::clear()
{
    m_log.clear();
    m_box->clear();
}
