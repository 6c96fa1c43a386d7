#pragma once

// A window at its designed place unless that place puts part of it off the screen: then it is
// moved only as far as it takes to lie within the screen's available area (the area less the
// desktop's panels), and made smaller where it is larger than that area.

#include <QRect>

class QWidget;

namespace noggix
{

// frame moved the least distance that puts it within area, after cutting it to area's size
// where it is wider or taller (the cut keeps its top-left corner).
QRect fitWithin(const QRect &frame, const QRect &area);

// Fits window (a top-level widget) within its screen's available area at every showing, before
// it maps, its frame taken as that of the last showing (none at first); and once more when the
// window manager has framed it, should that frame not fit. window owns what this installs.
void keepWithinScreen(QWidget *window);

} // namespace noggix
