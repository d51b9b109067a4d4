#pragma once
// A one-line label that ends its text in "…" where it is too narrow, rather than cutting it off
// mid-letter against its neighbour; text() and the tooltip keep the whole text.

#include <QLabel>

class TElidedLabel : public QLabel
{
    Q_OBJECT
public:
    TElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);
    // The text as shown now, for tests.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode m_mode;
};
