#include "app/ui/look.h"

#include <QApplication>
#include <QFontInfo>
#include <QPalette>
#include <QVariant>
#include <QWidget>

namespace corvane::app::ui {

QFont smallSystemFont() {
    QFont font = QApplication::font();
    font.setPixelSize(11);
    return font;
}

QFont boldSystemFont(int points) {
    QFont font = QApplication::font();
    font.setPixelSize(points);
    font.setBold(true);
    return font;
}

void fitText(QWidget* widget) {
    QVariant base = widget->property("corvaneBaseFont");
    if (base.isValid())
        widget->setFont(base.value<QFont>());
    else
        widget->setProperty("corvaneBaseFont", widget->font());
    QFont font = widget->font();
    QFontInfo info(font);
    int pixels = info.pixelSize();
    while (widget->sizeHint().width() > widget->width() && pixels > 8) {
        font.setPixelSize(--pixels);
        widget->setFont(font);
    }
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
