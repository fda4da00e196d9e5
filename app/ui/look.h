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

QFont smallSystemFont();
QFont boldSystemFont(double points);
QColor secondaryLabelColor();
void setTextColor(QWidget* widget, const QColor& color);

} // namespace corvane::app::ui
