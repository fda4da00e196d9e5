// "Corvane Settings": edits the stored server settings and the NLA login.
// Filled from the stored values each time it opens; "Save and Restart"
// validates, stores in a fixed order and hands over to `onSaved` (which
// restarts a running server).
#pragma once
#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/user_defaults.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;

namespace corvane::app::ui {

class LoginStore;

class SettingsWindow : public QDialog {
  public:
    static constexpr int kWidth = 520;
    static constexpr int kHeight = 820;

    SettingsWindow(std::shared_ptr<UserDefaults> defaults, LoginStore& logins,
                   std::function<void()> onSaved);

    // openSettings: fill every control from the stored values and show.
    void open() override;
    // saveSettings: false when an alert stopped it.
    bool saveSettings();
    // closeSettings: hide without storing.
    void closeSettings();

    // The controls, for the menu's owner and the tests.
    QLineEdit* portField;
    QSlider* scale;
    QLabel* scaleLabel;
    QComboBox *fps, *bitrate, *maxSize, *maxWidthPop, *vmode;
    QCheckBox *cursor, *auth, *ctrl, *avc, *audio, *clipboard, *hwenc;
    QLineEdit *nlaUser, *nlaPass;
    QLineEdit* allowedAccounts;
    QComboBox *whenConnects, *lockOnLeave;
    QSpinBox *awayMinutes, *promptSeconds;
    QLabel* nlaStatus;
    QLabel* restartNote;
    QPushButton *cancelButton, *saveButton;

  protected:
    void done(int result) override;

  private:
    void build();
    using RowLabel = std::function<QLabel*(const char* text, int y, int height)>;
    using RowPopup =
        std::function<QComboBox*(const std::vector<std::string>& titles, int y, int width)>;
    void buildConnectRows(const RowLabel& label, const RowPopup& popup);
    void fill();
    void scaleChanged();
    bool saveLogin();

    std::shared_ptr<UserDefaults> defaults_;
    LoginStore& logins_;
    std::function<void()> onSaved_;
};

} // namespace corvane::app::ui
