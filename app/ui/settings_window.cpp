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

    label("Port", 662, 24);
    portField = new QLineEdit(QStringLiteral("3389"), this);
    place(portField, 180, 662, 80, 24);

    label("Resolution", 622, 24);
    scale = new QSlider(Qt::Horizontal, this);
    scale->setRange(25, 100);
    scale->setValue(75);
    place(scale, 180, 622, 220, 24);
    scaleLabel = new QLabel(QStringLiteral("75%"), this);
    place(scaleLabel, 410, 622, 60, 24);
    connect(scale, &QSlider::valueChanged, this, [this] { scaleChanged(); });

    label("Frame rate", 582, 26);
    fps = popup(SettingsValues::fpsTitles, 582, 100);
    label("Video bitrate", 542, 26);
    bitrate = popup(SettingsValues::bitrateTitles, 542, 140);
    label("Size per monitor", 502, 26);
    maxSize = popup(SettingsValues::maxSizeTitles, 502, 260);
    label("Widest desktop", 462, 26);
    maxWidthPop = popup(SettingsValues::maxWidthTitles, 462, 260);
    label("Remote screen", 422, 26);
    std::vector<std::string> modes;
    for (RemoteScreen mode : remote_screen::allCases())
        modes.push_back(remote_screen::title(mode));
    vmode = popup(modes, 422, 260);
    vmode->setToolTip(QString::fromUtf8(words(Words::remoteScreenTip)));

    cursor = check(words(Words::cursorInVideo), 382);
    auth = check(words(Words::requirePassword), 354);

    QLabel* nlaLabel = label("Windows login (NLA)", 322, 24);
    nlaLabel->setToolTip(QString::fromUtf8(words(Words::loginTip)));
    nlaUser = new QLineEdit(this);
    nlaUser->setPlaceholderText(QStringLiteral("user name"));
    place(nlaUser, 180, 322, 140, 24);
    nlaPass = new QLineEdit(this);
    nlaPass->setEchoMode(QLineEdit::Password);
    nlaPass->setPlaceholderText(QStringLiteral("password"));
    place(nlaPass, 330, 322, 170, 24);
    nlaStatus = new QLabel(this);
    nlaStatus->setFont(smallSystemFont());
    setTextColor(nlaStatus, secondaryLabelColor());
    place(nlaStatus, 180, 300, 330, 18);

    ctrl = check(words(Words::ctrlAsCmd), 272);
    avc = check("Sharper 4:4:4 video (blank in the Windows App)", 244);
    audio = check(words(Words::sendSound), 216);
    clipboard = check("Share the clipboard with the remote session", 188);
    clipboard->setToolTip(QString::fromUtf8(words(Words::clipboardTip)));
    hwenc = check(words(Words::hardwareEncoder), 160);

    QLabel* allowedLabel = label("Allowed accounts", 120, 24);
    allowedLabel->setToolTip(QStringLiteral(
        "Who may log in with a password: account names and @group entries, comma-separated. "
        "Empty: your own account and the administrators."));
    allowedAccounts = new QLineEdit(this);
    allowedAccounts->setPlaceholderText(QStringLiteral("you and the administrators"));
    allowedAccounts->setToolTip(allowedLabel->toolTip());
    place(allowedAccounts, 180, 120, 320, 24);

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
    d.set(Key::bitrate, SettingsValues::bitrateValue(bitrate->currentIndex()));
    d.set(Key::maxWidth, SettingsValues::maxWidthValue(maxWidthPop->currentIndex()));
    d.sync();
    hide();
    if (onSaved_)
        onSaved_();
    return true;
}

} // namespace corvane::app::ui
