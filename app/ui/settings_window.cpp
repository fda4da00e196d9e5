#include "app/ui/settings_window.h"

#include <cmath>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>

#include "app/core/app_log.h"
#include "app/core/words.h"
#include "app/core/net_info.h"
#include "app/core/nla_login.h"
#include "app/core/settings.h"
#include "app/core/text_util.h"
#include "app/ui/alerts.h"
#include "app/ui/login_store.h"
#include "app/ui/look.h"
#include "app/ui/settings_values.h"

namespace corvane::app::ui {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// Spaces and tabs only: other white space is part of what the user typed.
std::string trimSpacesAndTabs(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

} // namespace

SettingsWindow::SettingsWindow(std::shared_ptr<UserDefaults> defaults, LoginStore& logins,
                               std::function<void()> onSaved)
    : defaults_(std::move(defaults)), logins_(logins), onSaved_(std::move(onSaved)) {
    build();
}

void SettingsWindow::build() {
    setWindowTitle(QStringLiteral("Corvane Settings"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    setFixedSize(kWidth, kHeight);
    setFocusPolicy(Qt::ClickFocus);
    auto place = [](QWidget* widget, int x, int y, int width, int height) {
        widget->setGeometry(fromBottomLeft(x, y, width, height, kHeight));
    };
    // A row's label sits beside its control, right-aligned, same frame height.
    auto label = [&](const char* text, int y, int height) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        place(l, 20, y, 150, height);
        return l;
    };
    auto popup = [&](const std::vector<std::string>& titles, int y, int width) {
        auto* box = new QComboBox(this);
        for (const std::string& title : titles)
            box->addItem(q(title));
        place(box, 180, y, width, 26);
        return box;
    };
    auto check = [&](const char* text, int y) {
        auto* box = new QCheckBox(QString::fromUtf8(text), this);
        place(box, 180, y, 320, 20);
        fitText(box);
        return box;
    };

    label("Port", 770, 24);
    portField = new QLineEdit(QStringLiteral("3389"), this);
    place(portField, 180, 770, 80, 24);

    label("Resolution", 730, 24);
    scale = new QSlider(Qt::Horizontal, this);
    scale->setRange(25, 100);
    scale->setValue(75);
    place(scale, 180, 730, 220, 24);
    scaleLabel = new QLabel(QStringLiteral("75%"), this);
    place(scaleLabel, 410, 730, 60, 24);
    connect(scale, &QSlider::valueChanged, this, [this] { scaleChanged(); });

    label("Frame rate", 690, 26);
    fps = popup(SettingsValues::fpsTitles, 690, 100);
    label("Video bitrate", 650, 26);
    bitrate = popup(SettingsValues::bitrateTitles, 650, 140);
    label("Size per monitor", 610, 26);
    maxSize = popup(SettingsValues::maxSizeTitles, 610, 260);
    label("Widest desktop", 570, 26);
    maxWidthPop = popup(SettingsValues::maxWidthTitles, 570, 260);
    label("Remote screen", 530, 26);
    std::vector<std::string> modes;
    for (RemoteScreen mode : remote_screen::allCases())
        modes.push_back(remote_screen::title(mode));
    vmode = popup(modes, 530, 260);
    vmode->setToolTip(QString::fromUtf8(words(Words::remoteScreenTip)));

    cursor = check(words(Words::cursorInVideo), 490);
    auth = check(words(Words::requirePassword), 462);

    QLabel* nlaLabel = label("Windows login (NLA)", 430, 24);
    nlaLabel->setToolTip(QString::fromUtf8(words(Words::loginTip)));
    nlaUser = new QLineEdit(this);
    nlaUser->setPlaceholderText(QStringLiteral("user name"));
    place(nlaUser, 180, 430, 140, 24);
    nlaPass = new QLineEdit(this);
    nlaPass->setEchoMode(QLineEdit::Password);
    nlaPass->setPlaceholderText(QStringLiteral("password"));
    place(nlaPass, 330, 430, 170, 24);
    nlaStatus = new QLabel(this);
    nlaStatus->setFont(smallSystemFont());
    setTextColor(nlaStatus, secondaryLabelColor());
    place(nlaStatus, 180, 408, 330, 18);

    ctrl = check(words(Words::ctrlAsCmd), 380);
    avc = check("Sharper 4:4:4 video (blank in the Windows App)", 352);
    audio = check(words(Words::sendSound), 324);
    clipboard = check("Share the clipboard with the remote session", 296);
    clipboard->setToolTip(QString::fromUtf8(words(Words::clipboardTip)));
    hwenc = check(words(Words::hardwareEncoder), 268);

    QLabel* allowedLabel = label("Allowed accounts", 228, 24);
    allowedLabel->setToolTip(QStringLiteral(
        "Who may log in with a password: account names and @group entries, comma-separated. "
        "Empty: your own account and the administrators."));
    allowedAccounts = new QLineEdit(this);
    allowedAccounts->setPlaceholderText(QStringLiteral("you and the administrators"));
    allowedAccounts->setToolTip(allowedLabel->toolTip());
    place(allowedAccounts, 180, 228, 320, 24);

    buildConnectRows(label, popup);

    restartNote = new QLabel(q(NetInfo::afterRestartNote(true)), this);
    restartNote->setWordWrap(true);
    restartNote->setFont(smallSystemFont());
    setTextColor(restartNote, secondaryLabelColor());
    place(restartNote, 20, 56, 480, 48);

    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setAutoDefault(false);
    place(cancelButton, 280, 16, 80, 30);
    connect(cancelButton, &QPushButton::clicked, this, [this] { closeSettings(); });
    saveButton = new QPushButton(QStringLiteral("Save and Restart"), this);
    saveButton->setDefault(true);
    place(saveButton, 370, 16, 130, 30);
    connect(saveButton, &QPushButton::clicked, this, [this] { saveSettings(); });
}

// What happens when a client has logged in: the question, when nobody
// counts as being at the desktop, how long the question waits, and the lock
// when the last client goes.
void SettingsWindow::buildConnectRows(const RowLabel& label, const RowPopup& popup) {
    auto place = [this](QWidget* widget, int x, int y, int width, int height) {
        widget->setGeometry(fromBottomLeft(x, y, width, height, kHeight));
    };
    std::vector<std::string> policies;
    for (ConnectPolicy policy : connect_policy::allCases())
        policies.push_back(connect_policy::title(policy));
    QLabel* asking = label("When a client connects", 192, 26);
    fitText(asking);
    whenConnects = popup(policies, 192, 320);
    whenConnects->setToolTip(QStringLiteral(
        "Ask me: a client that logged in sees nothing until you answer the question that "
        "appears here (Allow, View only or Refuse); without an answer it is refused. The "
        "third choice lets it in without asking while nobody is at the desktop (the screen "
        "is locked, or nobody used it for the time below)."));
    asking->setToolTip(whenConnects->toolTip());

    fitText(label("Nobody at the desktop after", 156, 24));
    awayMinutes = new QSpinBox(this);
    awayMinutes->setRange(1, 24 * 60);
    awayMinutes->setSuffix(QStringLiteral(" min"));
    place(awayMinutes, 180, 156, 90, 24);
    auto* countdownLabel = new QLabel(QStringLiteral("Answer within"), this);
    countdownLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    place(countdownLabel, 280, 156, 130, 24);
    promptSeconds = new QSpinBox(this);
    promptSeconds->setRange(5, 600);
    promptSeconds->setSuffix(QStringLiteral(" s"));
    place(promptSeconds, 420, 156, 80, 24);
    promptSeconds->setToolTip(QStringLiteral("How long the question waits for your answer."));
    countdownLabel->setToolTip(promptSeconds->toolTip());

    auto* lockLabel =
        new QLabel(QStringLiteral("Lock the screen when the last client leaves"), this);
    lockLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    place(lockLabel, 20, 120, 300, 26);
    fitText(lockLabel);
    std::vector<std::string> locks;
    for (LockOnLeave mode : lock_on_leave::allCases())
        locks.push_back(lock_on_leave::title(mode));
    lockOnLeave = popup(locks, 120, 170);
    lockOnLeave->move(330, lockOnLeave->y());
    lockOnLeave->setToolTip(QStringLiteral(
        "Automatic: lock it only when it was locked, or nobody was at the desktop, when the "
        "client came."));
    lockLabel->setToolTip(lockOnLeave->toolTip());
}

void SettingsWindow::scaleChanged() {
    scaleLabel->setText(QString::number(scale->value()) + QStringLiteral("%"));
}

void SettingsWindow::fill() {
    const UserDefaults& d = *defaults_;
    portField->setText(QString::number(d.integer(Key::port)));
    // Nearest, not truncated: 0.57 * 100 is 56.99...
    scale->setValue(static_cast<int>(std::lround(d.number(Key::scale) * 100.0)));
    scaleChanged();
    fps->setCurrentIndex(SettingsValues::fpsIndex(d.integer(Key::fps)));
    bitrate->setCurrentIndex(SettingsValues::bitrateIndex(d.integer(Key::bitrate)));
    maxWidthPop->setCurrentIndex(SettingsValues::maxWidthIndex(d.integer(Key::maxWidth)));
    maxSize->setCurrentIndex(SettingsValues::maxSizeIndex(d.integer(Key::maxSize)));
    RemoteScreen mode =
        remote_screen::from(d.string(Key::remoteScreen), d.string(Key::virtualMode));
    const auto& cases = remote_screen::allCases();
    auto found = std::find(cases.begin(), cases.end(), mode);
    vmode->setCurrentIndex(found == cases.end() ? 0 : int(found - cases.begin()));
    cursor->setChecked(d.boolean(Key::cursor));
    auth->setChecked(d.boolean(Key::auth));
    ctrl->setChecked(d.boolean(Key::ctrlCmd));
    avc->setChecked(d.boolean(Key::avc444));
    audio->setChecked(d.boolean(Key::audio));
    clipboard->setChecked(d.boolean(Key::clipboard));
    hwenc->setChecked(d.boolean(Key::hwenc));
    allowedAccounts->setText(q(d.string(Key::allowedAccounts).value_or("")));
    const auto& policies = connect_policy::allCases();
    const ConnectPolicy policy = connect_policy::from(d.string(Key::whenClientConnects));
    whenConnects->setCurrentIndex(
        int(std::find(policies.begin(), policies.end(), policy) - policies.begin()));
    awayMinutes->setValue(int(std::clamp(d.integer(Key::awayIdleMinutes), 1LL, 24LL * 60)));
    promptSeconds->setValue(int(std::clamp(d.integer(Key::promptSeconds), 5LL, 600LL)));
    const auto& locks = lock_on_leave::allCases();
    const LockOnLeave lock = lock_on_leave::fromRaw(d.string(Key::lockOnLeave).value_or(""))
                                 .value_or(LockOnLeave::automatic);
    lockOnLeave->setCurrentIndex(int(std::find(locks.begin(), locks.end(), lock) - locks.begin()));

    std::optional<std::string> user = NLALogin::user(logins_.load());
    nlaUser->setText(user ? q(*user) : QString());
    nlaPass->clear();
    nlaPass->setPlaceholderText(user ? QStringLiteral("unchanged") : QStringLiteral("password"));
    nlaStatus->setText(user ? QStringLiteral("Set. Clear the user name to remove it; type a "
                                             "password to change it.")
                            : QString::fromUtf8(words(Words::loginNotSet)));
    fitText(nlaStatus);
}

void SettingsWindow::open() {
    fill();
    if (QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    raise();
    activateWindow();
    // No field is being edited until the user picks one: the window itself
    // holds the focus (and Return still saves).
    setFocus(Qt::OtherFocusReason);
}

void SettingsWindow::closeSettings() {
    hide();
}

// Escape and the close button drop the edits like "Cancel".
void SettingsWindow::done(int) {
    closeSettings();
}

bool SettingsWindow::saveLogin() {
    std::string user = trimSpacesAndTabs(nlaUser->text().toStdString());
    std::string password = nlaPass->text().toStdString();
    std::optional<std::string> error;
    if (user.empty()) {
        logins_.clear();
    } else if (user.size() > NLALogin::maxUserBytes) {
        // The server counts bytes of UTF-8: say so rather than refuse vaguely.
        error = NLALogin::userNameProblem(user);
    } else if (password.empty()) {
        if (!logins_.load())
            error = "Type a password for the Windows login (or clear the user name to leave it "
                    "off).";
        else if (!logins_.rename(user))
            error = "The Windows login user name must not contain : \\ or @.";
    } else if (!logins_.save(user, password)) {
        error = "The Windows login user name must not be empty or contain : \\ or @ (and the "
                "Keychain must be available).";
    }
    nlaPass->clear();
    if (!error)
        return true;
    runAlert({QStringLiteral("Windows login"), q(*error)});
    return false;
}

bool SettingsWindow::saveSettings() {
    if (!saveLogin())
        return false;

    QString typed = portField->text();
    auto number = text::parseDecimal(text::trimmed(typed.toStdString()));
    std::optional<int> port = settingsPort(number ? *number : 0);
    if (!port) {
        runAlert({QStringLiteral("Port"),
                  QStringLiteral("\"") + typed +
                      QStringLiteral("\" is not a port Corvane can use: type 1024 to 65535 (the "
                                     "RDP port is 3389).")});
        return false;
    }
    UserDefaults& d = *defaults_;
    long long oldPort = d.integer(Key::port);
    if (oldPort != *port)
        appendLogLine("port changed in Settings: " + std::to_string(oldPort) + " -> " +
                      std::to_string(*port));
    d.set(Key::port, *port);
    d.set(Key::scale, SettingsValues::scaleValue(scale->value()));
    d.set(Key::fps, SettingsValues::fpsValue(fps->currentIndex()));
    d.set(Key::maxSize, SettingsValues::maxSizeValue(maxSize->currentIndex()));
    const auto& cases = remote_screen::allCases();
    int mode = std::clamp(vmode->currentIndex(), 0, int(cases.size()) - 1);
    d.set(Key::remoteScreen, q(remote_screen::rawValue(cases[size_t(mode)])));
    d.set(Key::cursor, cursor->isChecked());
    d.set(Key::auth, auth->isChecked());
    d.set(Key::ctrlCmd, ctrl->isChecked());
    d.set(Key::avc444, avc->isChecked());
    d.set(Key::audio, audio->isChecked());
    d.set(Key::clipboard, clipboard->isChecked());
    d.set(Key::hwenc, hwenc->isChecked());
    d.set(Key::allowedAccounts, q(trimSpacesAndTabs(allowedAccounts->text().toStdString())));
    const auto& policies = connect_policy::allCases();
    d.set(Key::whenClientConnects,
          q(connect_policy::rawValue(policies[size_t(
              std::clamp(whenConnects->currentIndex(), 0, int(policies.size()) - 1))])));
    d.set(Key::awayIdleMinutes, awayMinutes->value());
    d.set(Key::promptSeconds, promptSeconds->value());
    const auto& locks = lock_on_leave::allCases();
    d.set(Key::lockOnLeave,
          q(lock_on_leave::rawValue(
              locks[size_t(std::clamp(lockOnLeave->currentIndex(), 0, int(locks.size()) - 1))])));
    d.set(Key::bitrate, SettingsValues::bitrateValue(bitrate->currentIndex()));
    d.set(Key::maxWidth, SettingsValues::maxWidthValue(maxWidthPop->currentIndex()));
    d.sync();
    hide();
    if (onSaved_)
        onSaved_();
    return true;
}

} // namespace corvane::app::ui
