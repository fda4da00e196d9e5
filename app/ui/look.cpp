#include "app/ui/look.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace corvane::app::ui {

QFont smallSystemFont() {
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() * 0.85 : 8.5);
    return font;
}

QFont boldSystemFont(double points) {
    QFont font = QApplication::font();
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

// Text of lesser weight: the normal text colour at half strength.
QColor secondaryLabelColor() {
    QColor color = QApplication::palette().color(QPalette::WindowText);
    color.setAlphaF(0.55f);
    return color;
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

} // namespace corvane::app::ui
