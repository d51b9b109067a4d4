#pragma once
// A label for path-like text: while hovered it highlights the caption up to the separator that
// ends the segment under the mouse; a click hands that sub path on.

#include "platform/Browser.h"
#include "platform/FileVersion.h"

#include <QColor>
#include <QList>
#include <QWidget>

class TSubPathLabel : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
    Q_PROPERTY(QColor HighLightColor READ highLightColor WRITE setHighLightColor)
    Q_PROPERTY(bool Transparent READ transparent WRITE setTransparent)
    Q_PROPERTY(bool Autosize READ autosize WRITE setAutosize)
public:
    explicit TSubPathLabel(QWidget* parent = nullptr);

    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);
    QString text() const { return m_caption; }
    void setText(const QString& text) { setCaption(text); }
    QColor highLightColor() const { return m_highLightColor; }
    void setHighLightColor(const QColor& c) { m_highLightColor = c; }
    bool transparent() const { return m_transparent; }
    void setTransparent(bool t) { m_transparent = t; }
    bool autosize() const { return m_autosize; }
    void setAutosize(bool on);
    QColor color() const { return m_color.isValid() ? m_color : palette().color(QPalette::Window); }
    void setColor(const QColor& c) { m_color = c; }

    QString GetSubPath() const { return m_subPath; }
    QSize sizeHint() const override;

Q_SIGNALS:
    void OnChange();
    void OnMouseEnter();
    void OnMouseLeave();
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct TSeparator
    {
        int position; // 1-based index of the separator
        int width;    // pixel width of the working copy's first position characters
    };
    void BuildSeparatorTable();
    int FindSubPathEnd() const;
    void applyAutosize();

    bool m_mouseOver = false;
    bool m_transparent = false;
    QColor m_highLightColor = QColor(0, 0, 255);
    QList<TSeparator> m_separators;
    int m_lastMouseX = 0;
    int m_subPathLength = 0;
    QString m_subPath;
    QString m_caption;
    QColor m_color;
    bool m_autosize = true;
    bool m_pressed = false;
};
