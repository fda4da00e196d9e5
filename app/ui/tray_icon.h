// The tray symbol, drawn from the project's own SVG in a given colour.
#pragma once
#include <QColor>
#include <QIcon>

namespace corvane::app::ui {

// The system green the running state is tinted with.
inline const QColor kSystemGreen(52, 199, 89);
inline const QColor kSystemRed(255, 59, 48);

// The symbol in the panel's text colour, or tinted green while running.
QIcon trayIcon(bool running);
// The symbol in any colour (empty icon when the SVG cannot be drawn).
QIcon trayIconIn(const QColor& color);

} // namespace corvane::app::ui
