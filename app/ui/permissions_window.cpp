#include "app/ui/permissions_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "app/core/helper_perms.h"
#include "app/core/words.h"
#include "app/ui/clock.h"
#include "app/ui/look.h"
#include "app/ui/privacy_panes.h"
#include "app/ui/tray_icon.h"

namespace corvane::app::ui {

// ---- window --------------------------------------------------------------

PermissionsWindow::PermissionsWindow(PermissionsController& controller) : controller_(controller) {
    setWindowTitle(QStringLiteral("Corvane Server needs two permissions"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    setFixedSize(kWidth, kHeight);
    auto place = [](QWidget* widget, int x, int y, int width, int height) {
        widget->setGeometry(fromBottomLeft(x, y, width, height, kHeight));
    };
    auto label = [&](const QString& text, int x, int y, int width, int height) {
        auto* l = new QLabel(text, this);
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        place(l, x, y, width, height);
        return l;
    };
    auto button = [&](const QString& text, int x, int y, void (PermissionsController::*action)()) {
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(false);
        place(b, x, y, 140, 30);
        connect(b, &QPushButton::clicked, this, [this, action] { (controller_.*action)(); });
        return b;
    };
    // The one-line hints keep to their frame.
    auto hint = [&](const QString& text, int y) {
        QLabel* l = label(text, 20, y, 350, 18);
        l->setWordWrap(false);
        fitText(l);
    };
    const QString openSettings = QStringLiteral("Open Settings\u2026");

    label(QString::fromUtf8(words(Words::permissionsIntro)), 20, 262, 500, 48);
    label(QString::fromUtf8(words(Words::screenAccess)), 20, 228, 200, 20)
        ->setFont(boldSystemFont(13));
    hint(QString::fromUtf8(words(Words::screenAccessHint)), 208);
    screenStatus = label(QString(), 20, 186, 300, 18);
    screenButton = button(openSettings, 380, 206, &PermissionsController::openScreen);
    label(QString::fromUtf8(words(Words::inputAccess)), 20, 148, 200, 20)
        ->setFont(boldSystemFont(13));
    hint(QString::fromUtf8(words(Words::inputAccessHint)), 128);
    inputStatus = label(QString(), 20, 106, 300, 18);
    inputButton = button(openSettings, 380, 126, &PermissionsController::openInput);
    summary = label(QString(), 20, 52, 500, 44);
    repairButton =
        button(QStringLiteral("Repair Again"), 20, 14, &PermissionsController::repairAgain);
    startButton = button(QStringLiteral("Start Server"), 380, 14, &PermissionsController::startNow);
    startButton->setDefault(true);
}

void PermissionsWindow::closeEvent(QCloseEvent* event) {
    controller_.windowWillClose();
    QDialog::closeEvent(event);
}

// Escape closes the window like its close button.
void PermissionsWindow::reject() {
    QWidget::close();
}

// ---- controller ------------------------------------------------------------

PermissionsController::PermissionsController(std::shared_ptr<HelperPerms> perms, Clock& clock)
    : perms_(std::move(perms)), clock_(clock) {}

PermissionsController::~PermissionsController() = default;

bool PermissionsController::isVisible() const {
    return window_ && window_->isVisible();
}

void PermissionsController::show(bool autoContinue, bool repair, Action onReady) {
    autoContinue_ = autoContinue;
    onReady_ = std::move(onReady);
    if (!window_)
        window_ = std::make_unique<PermissionsWindow>(*this);
    openedInputPane_ = false;
    status_ = perms_->last();
    // Continuing closes the window: done before showing it, or it would stay
    // open (and watched) after the continuation.
    if (autoContinue && status_ && status_->allOK()) {
        startNow();
        return;
    }
    render();

    if (!window_->isVisible()) {
        if (QScreen* screen = QApplication::primaryScreen())
            window_->move(screen->availableGeometry().center() - window_->rect().center());
    }
    window_->show();
    window_->raise();
    window_->activateWindow();

    QPointer<PermissionsController> weak(this);
    timer_ = clock_.makeTimer();
    timer_->start(kWatchSeconds, true, [weak] {
        if (weak)
            weak->watchTick();
    });

    perms_->check([weak, repair](std::optional<PermStatus> answer) {
        if (!weak)
            return;
        weak->status_ = answer;
        weak->render();
        if (answer && repair && !answer->allOK())
            weak->runRepair(*answer);
    });
}

void PermissionsController::close() {
    timer_.reset();
    if (window_)
        window_->hide();
}

void PermissionsController::watchTick() {
    if (busy_ || checking_ || !isVisible())
        return;
    checking_ = true;
    QPointer<PermissionsController> weak(this);
    perms_->check([weak](std::optional<PermStatus> answer) {
        if (!weak)
            return;
        weak->checking_ = false;
        std::optional<PermStatus> before = weak->status_;
        if (answer)
            weak->status_ = answer;
        weak->render();
        const auto& now = weak->status_;
        if (before && now && !before->screen && now->screen && !now->input &&
            !weak->openedInputPane_) {
            weak->openedInputPane_ = true;
            openPrivacyPane(HelperPerms::inputURL);
        }
    });
}

void PermissionsController::runRepair(const PermStatus& status) {
    PermRepairPlan plan = permRepairPlan(status, perms_->grantedBefore());
    if (!plan.request || busy_)
        return;
    forgotten_ = plan.forgotten;
    busy_ = true;
    render();
    QPointer<PermissionsController> weak(this);
    perms_->repair(plan, [weak](std::optional<PermStatus> answer) {
        if (!weak)
            return;
        weak->busy_ = false;
        if (answer)
            weak->status_ = answer;
        weak->render();
        if (!weak || !weak->status_)
            return;
        if (!weak->status_->screen) {
            openPrivacyPane(HelperPerms::screenURL);
        } else if (!weak->status_->input) {
            weak->openedInputPane_ = true;
            openPrivacyPane(HelperPerms::inputURL);
        }
    });
}

void PermissionsController::render() {
    if (!window_)
        return;
    PermissionsWindow& w = *window_;
    auto state = [](QLabel* label, std::optional<bool> granted) {
        if (!granted) {
            label->setText(QStringLiteral("\u2026"));
            setTextColor(label, secondaryLabelColor());
        } else if (*granted) {
            label->setText(QStringLiteral("\u2713 Allowed"));
            setTextColor(label, kSystemGreen);
        } else {
            label->setText(QStringLiteral("\u2717 Not allowed yet"));
            setTextColor(label, kSystemRed);
        }
    };
    std::optional<bool> screen, input;
    if (status_) {
        screen = status_->screen;
        input = status_->input;
    }
    state(w.screenStatus, screen);
    state(w.inputStatus, input);
    w.screenButton->setEnabled(!screen || !*screen);
    w.inputButton->setEnabled(!input || !*input);
    bool allowed = status_ && status_->allOK();
    w.startButton->setEnabled(allowed);
    w.repairButton->setEnabled(!busy_ && !allowed);

    QColor color = QApplication::palette().color(QPalette::WindowText);
    QString text;
    if (busy_) {
        text = QString::fromUtf8(words(Words::repairing));
    } else if (perms_->lastProbeFailed() && !status_) {
        text = QString::fromUtf8(words(Words::serverNotAsked));
        color = kSystemRed;
    } else {
        text = QString::fromStdString(permSummary(status_, forgotten_));
    }
    w.summary->setText(text);
    setTextColor(w.summary, color);

    if (allowed && autoContinue_)
        startNow();
}

void PermissionsController::openScreen() {
    openPrivacyPane(HelperPerms::screenURL);
}

void PermissionsController::openInput() {
    openedInputPane_ = true;
    openPrivacyPane(HelperPerms::inputURL);
}

void PermissionsController::repairAgain() {
    if (status_) {
        runRepair(*status_);
        return;
    }
    QPointer<PermissionsController> weak(this);
    perms_->check([weak](std::optional<PermStatus> answer) {
        if (weak && answer)
            weak->runRepair(*answer);
    });
}

void PermissionsController::startNow() {
    Action ready = std::move(onReady_);
    onReady_ = nullptr;
    autoContinue_ = false;
    close();
    if (ready)
        ready();
}

void PermissionsController::windowWillClose() {
    timer_.reset();
    autoContinue_ = false;
    onReady_ = nullptr;
}

} // namespace corvane::app::ui
