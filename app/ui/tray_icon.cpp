#include "app/ui/tray_icon.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPen>
#include <QPixmap>
#include <QSvgRenderer>

namespace corvane::app::ui {

QIcon trayIconIn(const QColor& color, bool badge) {
    QFile file(QStringLiteral(":/corvane/icons/corvane.svg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray svg = file.readAll();
    svg.replace("COLOR", color.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        return {};
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        if (badge) {
            // Large enough to see at 16 pixels, ringed so it stands out on the symbol.
            const qreal d = size * 0.5;
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(Qt::white, size / 16.0));
            painter.setBrush(kSystemOrange);
            painter.drawEllipse(QRectF(size - d, size - d, d, d).adjusted(0.5, 0.5, -0.5, -0.5));
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon trayIcon(bool running, bool clients) {
    return trayIconIn(
        running ? kSystemGreen : QGuiApplication::palette().color(QPalette::WindowText), clients);
}

} // namespace corvane::app::ui
