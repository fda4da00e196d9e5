#include "app/core/app_log.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <QDateTime>
#include <filesystem>

#include "app/core/paths.h"

namespace corvane::app {

std::string formatLogLine(std::string_view message) {
    QString time = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    std::string line = "[" + time.toStdString() + "] [Corvane app] ";
    line.append(message);
    line.push_back('\n');
    return line;
}

void appendLogLineTo(const std::string& path, std::string_view message) {
    std::filesystem::path file(path);
    if (file.has_parent_path())
        paths::makeDirectories(file.parent_path().string());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write call per line: with O_APPEND the line lands whole even while
    // the server appends its own output to the same file.
    std::string line = formatLogLine(message);
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        data += written;
        left -= static_cast<size_t>(written);
    }
    ::close(fd);
}

void appendLogLine(std::string_view message) {
    appendLogLineTo(paths::logPath(), message);
}

void systemLog(const std::string& line) {
    syslog(LOG_ERR, "%s", line.c_str());
}

} // namespace corvane::app
