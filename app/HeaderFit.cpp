#include "app/HeaderFit.h"

#include <algorithm>

namespace {
constexpr int kGap = 8;
} // namespace

THeaderPlace place_header_link(int headerWidth, int controlsRight, QSize link, int rightGap, int rowHeight)
{
    const int anchored = headerWidth - rightGap - link.width();
    const int centredY = (rowHeight - link.height()) / 2;
    if (anchored >= controlsRight + kGap)
        return {{anchored, centredY}, rowHeight};
    const int beside = headerWidth - kGap - link.width();
    if (beside >= controlsRight + kGap)
        return {{beside, centredY}, rowHeight};
    return {{kGap - 2, rowHeight - 4}, rowHeight - 4 + link.height() + 4};
}

int header_minimum_width(int controlsRight, int linkWidth)
{
    return std::max(controlsRight + kGap, linkWidth + 2 * kGap);
}

QRect fit_window(QSize wanted, QSize minimum, QRect available, QSize frame)
{
    const QSize room = (available.size() - frame).expandedTo(QSize(0, 0));
    const QSize size = wanted.boundedTo(room).expandedTo(minimum);
    // The outer rectangle, frame included, centred; one larger than the screen keeps its top left
    // corner on it, where the title bar is.
    QRect outer(QPoint(0, 0), size + frame);
    outer.moveCenter(available.center());
    outer.moveTopLeft(QPoint(std::max(outer.left(), available.left()), std::max(outer.top(), available.top())));
    // The frame: equal borders left, right and below, the rest of its height as the title bar above.
    const int border = frame.width() / 2;
    return QRect(outer.topLeft() + QPoint(border, frame.height() - border), size);
}
