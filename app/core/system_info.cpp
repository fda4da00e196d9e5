#include "app/core/system_info.h"

#ifdef __APPLE__
#include <sys/sysctl.h>
#endif

#include <QCryptographicHash>
#include <QSysInfo>
#include <cstdlib>
#include <fstream>

#include "app/core/user_defaults.h"

namespace corvane::app {

namespace {

std::string firstLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

} // namespace

std::string osVersionString() {
    return QSysInfo::prettyProductName().toStdString();
}

std::string hardwareModel() {
#ifdef __APPLE__
    size_t length = 0;
    sysctlbyname("hw.model", nullptr, &length, nullptr, 0);
    std::string model(length < 1 ? 1 : length, '\0');
    length = model.size();
    if (sysctlbyname("hw.model", model.data(), &length, nullptr, 0) != 0)
        return "?";
    return model.c_str();
#else
    std::string vendor = firstLineOf("/sys/class/dmi/id/sys_vendor");
    std::string product = firstLineOf("/sys/class/dmi/id/product_name");
    std::string model = vendor.empty() ? product : vendor + (product.empty() ? "" : " " + product);
    return model.empty() ? QSysInfo::currentCpuArchitecture().toStdString() : model;
#endif
}

std::string machineIdentifierFrom(const std::string& machineId) {
    if (machineId.empty())
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(kAppIdentifier));
    hash.addData(QByteArrayView(":"));
    hash.addData(QByteArrayView(machineId.data(), static_cast<qsizetype>(machineId.size())));
    return hash.result().toHex().toStdString();
}

std::string machineIdentifier() {
    std::string id = firstLineOf("/etc/machine-id");
    if (id.empty())
        id = firstLineOf("/var/lib/dbus/machine-id");
    if (id.empty())
        id = QSysInfo::machineUniqueId().toStdString();
    std::string identifier = machineIdentifierFrom(id);
    return identifier.empty() ? "unknown" : identifier;
}

std::string serviceBase() {
    const char* override = std::getenv("CORVANE_SERVICE_BASE");
    if (override && *override)
        return override;
    return CORVANE_SERVICE_BASE_DEFAULT;
}

std::string appVersion() {
    return CORVANE_APP_VERSION;
}

} // namespace corvane::app
