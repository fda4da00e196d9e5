// Modal alerts: a message, an informative text and buttons. Every alert of
// the application goes through one runner so that tests can answer them.
#pragma once
#include <QString>
#include <QStringList>
#include <functional>

class QMessageBox;
class QWidget;

namespace corvane::app::ui {

struct Alert {
    QString message;
    QString informative;
    QStringList buttons{QStringLiteral("OK")}; // the first is the default
};

// Shows the alert and returns the index of the chosen button (-1 when the
// alert was closed without a choice).
int runAlert(const Alert& alert);

using AlertRunner = std::function<int(const Alert&)>;
// Replaces the runner (tests); returns the previous one.
AlertRunner setAlertRunner(AlertRunner runner);

// The message box an alert is shown in, not yet shown.
QMessageBox* makeAlertBox(const Alert& alert, QWidget* parent = nullptr);

} // namespace corvane::app::ui
