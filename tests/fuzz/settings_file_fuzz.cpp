// The application's settings file: whatever a user or another program wrote
// into it is read into the settings record the launch plan is built from.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "app/core/settings.h"

using namespace corvane::app;

namespace {

std::string gDirectory;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/corvane-fuzz-settings-XXXXXX";
    if (!mkdtemp(pattern))
        std::abort();
    gDirectory = pattern;
    std::atexit([] { std::filesystem::remove_all(gDirectory); });
    // The statistics path is made under XDG_DATA_HOME on every read.
    setenv("XDG_DATA_HOME", gDirectory.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A new name each time: QSettings caches files by name and time stamp.
    static unsigned long serial = 0;
    const std::string path = gDirectory + "/settings-" + std::to_string(serial++) + ".ini";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    {
        UserDefaults defaults(QString::fromStdString(path));
        registerSettingDefaults(defaults);
        const ServerSettings s = currentSettings(defaults, [] { return std::nullopt; });
        if (s.port < 1024 || s.port > 65535)
            std::abort();
    }
    std::remove(path.c_str());
    return 0;
}
