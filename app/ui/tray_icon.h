// The tray symbol, drawn from the project's own SVG in a given colour.
#pragma once
#include <QColor>
#include <QIcon>

namespace corvane::app::ui {

// The system green the running state is tinted with.
inline const QColor kSystemGreen(52, 199, 89);
inline const QColor kSystemRed(255, 59, 48);
// The badge that says a client is connected: a colour neither state uses.
inline const QColor kSystemOrange(255, 149, 0);

// The symbol in the panel's text colour, or tinted green while running;
// with a badge in its lower right corner while any client is connected.
QIcon trayIcon(bool running, bool clients = false);
// The symbol in any colour (empty icon when the SVG cannot be drawn).
QIcon trayIconIn(const QColor& color, bool badge = false);

} // namespace corvane::app::ui
