#include "app/ui/tray_icon.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSvgRenderer>

namespace corvane::app::ui {

QIcon trayIconIn(const QColor& color) {
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
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon trayIcon(bool running) {
    return trayIconIn(running ? kSystemGreen
                              : QGuiApplication::palette().color(QPalette::WindowText));
}

} // namespace corvane::app::ui
