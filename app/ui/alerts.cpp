#include "app/ui/alerts.h"

#include <QMessageBox>
#include <QPushButton>

namespace corvane::app::ui {

namespace {

int showModal(const Alert& alert) {
    QMessageBox* box = makeAlertBox(alert);
    // Brought to the front before it waits: a tray application has no
    // window of its own the alert could come up behind.
    box->show();
    box->raise();
    box->activateWindow();
    box->exec();
    QAbstractButton* clicked = box->clickedButton();
    // Some desktops add mnemonics to button texts.
    int chosen = clicked ? alert.buttons.indexOf(clicked->text().remove(QLatin1Char('&'))) : -1;
    delete box;
    return chosen;
}

AlertRunner& currentRunner() {
    static AlertRunner runner = showModal;
    return runner;
}

} // namespace

QMessageBox* makeAlertBox(const Alert& alert, QWidget* parent) {
    auto* box = new QMessageBox(parent);
    box->setWindowTitle(QStringLiteral("Corvane"));
    box->setIcon(QMessageBox::Information);
    box->setText(alert.message);
    box->setInformativeText(alert.informative);
    for (qsizetype i = 0; i < alert.buttons.size(); ++i) {
        QPushButton* button = box->addButton(alert.buttons[i], i == 0 ? QMessageBox::AcceptRole
                                                                      : QMessageBox::ActionRole);
        if (i == 0)
            box->setDefaultButton(button);
    }
    return box;
}

int runAlert(const Alert& alert) {
    return currentRunner()(alert);
}

AlertRunner setAlertRunner(AlertRunner runner) {
    AlertRunner previous = std::move(currentRunner());
    currentRunner() = runner ? std::move(runner) : AlertRunner(showModal);
    return previous;
}

} // namespace corvane::app::ui
