#include "app/ErrorPage.h"

#include "app/SurveyStatus.h"

#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>

TErrorPage::TErrorPage(QPlainTextEdit* box, QTabWidget* tabs)
    : m_box(box)
    , m_tabs(tabs)
{
    // The box drops its oldest line as the log does, so the two stay line for line the same.
    m_box->setMaximumBlockCount(m_log.capacity());
    m_box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_box->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // A scan can fail once per address: the title follows a few times a second, not per line.
    m_titlePacer.setSingleShot(true);
    m_titlePacer.setInterval(200);
    QObject::connect(&m_titlePacer, &QTimer::timeout, [this] { showCount(); });
}

void TErrorPage::add(const QString& line)
{
    ++m_count;
    if (!m_titlePacer.isActive())
        m_titlePacer.start();
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
    m_count = 0;
    m_titlePacer.stop();
    showCount();
}

void TErrorPage::showCount()
{
    if (!m_tabs)
        return;
    const int page = m_tabs->indexOf(m_box->parentWidget());
    if (page >= 0)
        m_tabs->setTabText(page, errors_tab_title(m_count));
}
