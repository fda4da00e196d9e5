#include "app/ui/connect_prompt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/ui/clock.h"
#include "app/ui/look.h"

namespace corvane::app::ui {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text.empty() ? std::string("?") : text);
}

QString loginWords(const std::string& login) {
    if (login == "password")
        return QStringLiteral("the account's password");
    if (login == "nla")
        return QStringLiteral("the Windows login (NLA)");
    return q(login);
}

QString countdownText(int left, PromptAnswer onTimeout) {
    const bool refuse = onTimeout != PromptAnswer::allow;
    if (left > 0)
        return (refuse ? QStringLiteral("Refused in %1 s if you do not answer.")
                       : QStringLiteral("Let in in %1 s if you do not answer (nobody seems to be "
                                        "at the desktop)."))
            .arg(left);
    return refuse ? QStringLiteral("No answer in time: Corvane Server refuses it.")
                  : QStringLiteral("No answer in time: Corvane Server lets it in.");
}

} // namespace

ConnectPrompt::ConnectPrompt(const ControlPrompt& prompt, Clock& clock, PromptAnswerSender send)
    : prompt_(prompt), clock_(clock), send_(std::move(send)),
      deadline_(clock.now() + prompt.timeoutSeconds) {
    build();
    if (prompt_.timeoutSeconds > 0) {
        timer_ = clock_.makeTimer();
        timer_->start(1.0, true, [this] { tick(); });
    }
    tick();
}

ConnectPrompt::~ConnectPrompt() = default;

void ConnectPrompt::build() {
    setWindowTitle(QStringLiteral("Someone is connecting"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                   Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* layout = new QVBoxLayout(this);
    heading = new QLabel(QStringLiteral("Someone wants to connect to this desktop"), this);
    heading->setFont(boldSystemFont(14));
    layout->addWidget(heading);

    auto* who = new QFormLayout;
    account = new QLabel(q(prompt_.who.account), this);
    address = new QLabel(q(prompt_.who.address), this);
    login = new QLabel(loginWords(prompt_.who.login), this);
    who->addRow(QStringLiteral("Account:"), account);
    who->addRow(QStringLiteral("From:"), address);
    who->addRow(QStringLiteral("Logged in with:"), login);
    layout->addLayout(who);

    auto* explain = new QLabel(QStringLiteral("Allow gives it the picture, keyboard, mouse and "
                                              "clipboard; View only lets it watch."),
                               this);
    explain->setWordWrap(true);
    layout->addWidget(explain);
    countdown = new QLabel(this);
    countdown->setWordWrap(true);
    layout->addWidget(countdown);
    note = new QLabel(this);
    note->setWordWrap(true);
    note->setFont(smallSystemFont());
    setTextColor(note, secondaryLabelColor());
    layout->addWidget(note);

    auto* buttons = new QHBoxLayout;
    refuseButton = new QPushButton(QStringLiteral("Refuse"), this);
    viewOnlyButton = new QPushButton(QStringLiteral("View only"), this);
    allowButton = new QPushButton(QStringLiteral("Allow"), this);
    buttons->addWidget(refuseButton);
    buttons->addStretch(1);
    buttons->addWidget(viewOnlyButton);
    buttons->addWidget(allowButton);
    // A key typed into another window must never answer: no button is the
    // default, and only a click (or Space on a focused button) answers.
    for (QPushButton* button : {refuseButton, viewOnlyButton, allowButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(allowButton, &QPushButton::clicked, this, [this] { answer(PromptAnswer::allow); });
    connect(viewOnlyButton, &QPushButton::clicked, this,
            [this] { answer(PromptAnswer::viewOnly); });
    connect(refuseButton, &QPushButton::clicked, this, [this] { answer(PromptAnswer::refuse); });
    layout->addLayout(buttons);
    setMinimumWidth(420);
}

void ConnectPrompt::tick() {
    if (prompt_.timeoutSeconds <= 0)
        return;
    // A hair under a whole second still shows that second: the ticks land
    // on the second, and a timer firing early must not skip a number.
    const double left = deadline_ - clock_.now();
    const int seconds = std::max(0, static_cast<int>(std::ceil(left - 1e-6)));
    countdown->setText(countdownText(seconds, prompt_.onTimeout));
    if (seconds == 0 && timer_)
        timer_->stop();
}

void ConnectPrompt::answer(PromptAnswer answer) {
    if (send_ && send_(prompt_.id, answer)) {
        // Closed by the server's prompt-closed, which says what it did.
        for (QPushButton* button : {refuseButton, viewOnlyButton, allowButton})
            button->setEnabled(false);
        note->setText(QStringLiteral("Answer sent\u2026"));
        return;
    }
    note->setText(QStringLiteral("Not sent: Corvane Server cannot be reached."));
}

void ConnectPrompt::present() {
    // A window that waited in the queue shows the time left now, not at its
    // last tick.
    tick();
    adjustSize();
    if (QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    raise();
}

void ConnectPrompt::finish() {
    if (timer_)
        timer_->stop();
    hide();
}

void ConnectPrompt::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void ConnectPrompt::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PromptQueue::Finish::operator()(ConnectPrompt* window) const {
    // Possibly inside the window's own click (an answer that closed it at
    // once): deleted once the event loop is back.
    window->finish();
    window->deleteLater();
}

PromptQueue::PromptQueue(Clock& clock, PromptAnswerSender send,
                         std::function<void(const ControlPrompt&)> arrived)
    : clock_(clock), send_(std::move(send)), arrived_(std::move(arrived)) {}

PromptQueue::~PromptQueue() = default;

void PromptQueue::update(const std::vector<ControlPrompt>& open) {
    auto isOpen = [&](uint64_t id) {
        return std::any_of(open.begin(), open.end(),
                           [id](const ControlPrompt& p) { return p.id == id; });
    };
    std::erase_if(windows_, [&](const auto& window) { return !isOpen(window->id()); });
    for (const ControlPrompt& prompt : open) {
        const bool known = std::any_of(windows_.begin(), windows_.end(), [&](const auto& window) {
            return window->id() == prompt.id;
        });
        if (known)
            continue;
        windows_.emplace_back(new ConnectPrompt(prompt, clock_, send_));
        if (arrived_)
            arrived_(prompt);
    }
    if (ConnectPrompt* first = shown(); first && !first->isVisible())
        first->present();
}

ConnectPrompt* PromptQueue::shown() const {
    return windows_.empty() ? nullptr : windows_.front().get();
}

} // namespace corvane::app::ui
