#pragma once
// Where the header's web link goes and how the window fits its screen: no control of the header may
// cover another at any size the window allows.

#include <QPoint>
#include <QRect>
#include <QSize>

struct THeaderPlace
{
    QPoint link;
    int height = 0; // of the header
};

// Beside the controls (which end at controlsRight), right-anchored rightGap from the header's edge,
// when it fits there with a gap of its own; else on a row of its own under them, at the left.
THeaderPlace place_header_link(int headerWidth, int controlsRight, QSize link, int rightGap, int rowHeight);

// The header's least width: the controls' row whole, and the link whole on its own row.
int header_minimum_width(int controlsRight, int linkWidth);

// The window's geometry: wanted, no larger than the screen's available area less frame (the frame
// a window manager adds), no smaller than minimum, centred on the available area.
QRect fit_window(QSize wanted, QSize minimum, QRect available, QSize frame);
