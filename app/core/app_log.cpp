#include "app/core/app_log.h"

#include <fcntl.h>
#include <sys/stat.h>
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

int openLogForAppend(const std::string& path) {
    const std::filesystem::path file(path);
    if (file.has_parent_path())
        paths::makePrivateDirectories(file.parent_path().string());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0)
        (void)::fchmod(fd, 0600); // a log made before, with a wider mode
    return fd;
}

bool rotateLogIfLarge(const std::string& path, unsigned long long limit, int kept) {
    namespace fs = std::filesystem;
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error || size < limit || kept < 1)
        return false;
    auto numbered = [&path](int n) { return path + "." + std::to_string(n); };
    fs::remove(numbered(kept), error);
    for (int n = kept - 1; n >= 1; --n)
        fs::rename(numbered(n), numbered(n + 1), error);
    if (!fs::copy_file(path, numbered(1), fs::copy_options::overwrite_existing, error))
        return false;
    fs::permissions(numbered(1), fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace, error);
    return ::truncate(path.c_str(), 0) == 0;
}

void appendLogLineTo(const std::string& path, std::string_view message) {
    rotateLogIfLarge(path);
    const int fd = openLogForAppend(path);
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
