#pragma once

#include <QtGlobal>

class QWidget;

/// Turns on Qt's own high-DPI scaling, before the application object exists:
/// on a 192-dpi screen the whole window doubles with its text. A ratio of
/// 1.5 is rounded down and its remainder left to remainingTextScale(), so
/// the window grows by exactly the desktop's factor instead of by 2.
void enableHighDpiScaling();

/// How much larger than at 96 dpi the text of `widget`'s screen is drawn,
/// beyond what Qt's own high-DPI scaling already covers, in quarter steps;
/// 1 when it is not larger. Qt scales by whole device-pixel ratios, so a
/// desktop set to 120 dpi (or one whose ratio Qt rounded down) draws text a
/// quarter larger on an unscaled layout.
qreal remainingTextScale(const QWidget *widget);

/// Multiplies the pixel geometry that the form sets by `factor`: the
/// window's size, every layout's spacing and margins, the spacers' size
/// hints and the minimum sizes of the widgets. Maximum sizes are left alone.
void scaleFormGeometry(QWidget *window, qreal factor);
