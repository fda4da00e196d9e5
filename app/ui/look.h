// Shared looks of the application's windows: frames given in points from the
// bottom-left corner of a content area (as the window designs state them),
// the small and bold fonts, and the label colours.
#pragma once
#include <QColor>
#include <QFont>
#include <QRect>

class QWidget;

namespace corvane::app::ui {

// Qt places widgets from the top-left: the same frame, flipped.
inline QRect fromBottomLeft(int x, int y, int width, int height, int contentHeight) {
    return QRect(x, contentHeight - y - height, width, height);
}

// A point of the window designs is one pixel at 1x, so the fonts they name
// are sized in pixels.
QFont smallSystemFont();
QFont boldSystemFont(int points);
// Shrinks the font of a one-line text a little until the text fits its frame
// (the frames were drawn for a narrower system font than most desktops use).
void fitText(QWidget* widget);
QColor secondaryLabelColor();
void setTextColor(QWidget* widget, const QColor& color);

} // namespace corvane::app::ui
