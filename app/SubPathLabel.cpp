#include "app/SubPathLabel.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

TSubPathLabel::TSubPathLabel(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    resize(60, 14);
    applyAutosize();
}

void TSubPathLabel::setCaption(const QString& caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    if (m_mouseOver)
        BuildSeparatorTable();
    applyAutosize();
    repaint();
    Q_EMIT OnChange();
}

void TSubPathLabel::setAutosize(bool on)
{
    m_autosize = on;
    applyAutosize();
}

QSize TSubPathLabel::sizeHint() const
{
    return fontMetrics().size(0, m_caption);
}

void TSubPathLabel::applyAutosize()
{
    if (!m_autosize)
        return;
    updateGeometry();
    resize(sizeHint());
}

void TSubPathLabel::BuildSeparatorTable()
{
    m_separators.clear();
    m_subPathLength = 0;
    // The scheme's "//" never splits a URL: measure it as "++".
    QString copy = m_caption;
    const qsizetype dbl = copy.indexOf(QLatin1String("//"));
    if (dbl >= 0)
        copy.replace(dbl, 2, QStringLiteral("++"));
    const QFontMetrics fm = fontMetrics();
    for (qsizetype i = 0; i < copy.size(); ++i)
        if (copy[i] == u'/' || copy[i] == u'\\')
            m_separators.append({int(i + 1), fm.horizontalAdvance(copy.left(i + 1))});
}

int TSubPathLabel::FindSubPathEnd() const
{
    int n = int(m_caption.size());
    if (n <= 3)
        return n;
    for (auto it = m_separators.crbegin(); it != m_separators.crend(); ++it) {
        if (it->width < m_lastMouseX)
            break;
        n = it->position;
    }
    return n;
}

void TSubPathLabel::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    m_mouseOver = true;
    BuildSeparatorTable();
    repaint();
    Q_EMIT OnMouseEnter();
}

void TSubPathLabel::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    m_mouseOver = false;
    repaint();
    Q_EMIT OnMouseLeave();
}

void TSubPathLabel::mouseMoveEvent(QMouseEvent* event)
{
    QWidget::mouseMoveEvent(event);
    m_lastMouseX = int(event->position().x());
    m_mouseOver = true;
    const int n = FindSubPathEnd();
    if (n != m_subPathLength) {
        m_subPath = m_caption.left(n);
        m_subPathLength = n;
        repaint();
    }
}

void TSubPathLabel::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void TSubPathLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    QWidget::mouseReleaseEvent(event);
    if (click)
        Q_EMIT clicked();
}

void TSubPathLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        applyAutosize();
    QWidget::changeEvent(event);
}

void TSubPathLabel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!m_transparent)
        p.fillRect(rect(), color());
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, m_caption);
    if (m_mouseOver) {
        p.setPen(m_highLightColor);
        p.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, m_subPath);
    }
}
