#include "cert_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <freerdp/log.h>
#include <winpr/path.h>

#define TAG SERVER_TAG("shadow")

namespace {

// Tightens the mode of what `path` names (never through a symbolic link);
// true when it is private afterwards or does not exist.
bool makePrivate(const std::string& path, mode_t mode, int kind) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | kind);
    if (fd < 0)
        return errno == ENOENT;
    struct stat info {};
    bool ok = fstat(fd, &info) == 0;
    if (ok && (info.st_mode & 07777) != mode) {
        ok = fchmod(fd, mode) == 0;
        if (ok)
            WLog_INFO(TAG, "%s was open to other users (mode %04o): made it private (%04o)",
                      path.c_str(), static_cast<unsigned>(info.st_mode & 07777),
                      static_cast<unsigned>(mode));
    }
    close(fd);
    return ok;
}

// Like mkdir -p; folders it creates are private to the user.
bool makeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

} // namespace

std::string corvane_certificate_folder(void) {
    char* config = GetKnownSubPath(KNOWN_PATH_XDG_CONFIG_HOME, "freerdp");
    if (!config)
        return {};
    std::string folder = std::string(config) + "/shadow";
    free(config);
    return folder;
}

bool corvane_private_certificate_folder(void) {
    const std::string folder = corvane_certificate_folder();
    if (folder.empty() || folder[0] != '/' || !makeFolders(folder))
        return false;
    const bool folderPrivate = makePrivate(folder, 0700, O_DIRECTORY);
    const bool keyPrivate = makePrivate(folder + "/shadow.key", 0600, 0);
    if (!folderPrivate || !keyPrivate)
        WLog_WARN(TAG, "could not make %s private to this user: %s", folder.c_str(),
                  std::strerror(errno));
    return folderPrivate && keyPrivate;
}

PrivateFileMode::PrivateFileMode() : previous_(umask(077)) {}
PrivateFileMode::~PrivateFileMode() {
    umask(static_cast<mode_t>(previous_));
}
