#include "app/ui/privacy_panes.h"

#include <QDesktopServices>
#include <QUrl>

#include "app/core/app_log.h"
#include "app/core/helper_perms.h"
#include "app/core/words.h"
#include "app/ui/alerts.h"
#include "platform/platform.h"

namespace corvane::app::ui {

void openPrivacyPane(const std::string& url) {
    std::string_view service;
    QString title;
    if (url == HelperPerms::screenURL) {
        service = platform::kScreenService;
        title = QString::fromUtf8(words(Words::screenAccess));
    } else if (url == HelperPerms::inputURL) {
        service = platform::kInputService;
        title = QString::fromUtf8(words(Words::inputAccess));
    } else {
        QUrl parsed(QString::fromStdString(url));
        if (parsed.isValid())
            QDesktopServices::openUrl(parsed);
        return;
    }
    std::string message;
    if (platform::current().privacy().openSettings(service, message))
        return;
    appendLogLine("no settings to open for " + std::string(service) + ": " + message);
    runAlert({title, QString::fromStdString(message)});
}

} // namespace corvane::app::ui
