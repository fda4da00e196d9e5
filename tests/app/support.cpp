#include "support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdlib>
#include <thread>

namespace corvane::test {

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value)
    : name_(name) {
    if (const char* old = std::getenv(name.c_str()))
        previous_ = old;
    if (value)
        setenv(name.c_str(), value->c_str(), 1);
    else
        unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (previous_)
        setenv(name_.c_str(), previous_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

void ensureApplication() {
    static int argc = 1;
    static char name[] = "corvane-app-test";
    static char* argv[] = {name, nullptr};
    // A test binary with widgets makes its own QApplication first.
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
    ensureApplication();
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < static_cast<qint64>(seconds * 1000)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

std::optional<std::string> shell(const std::string& command) {
    std::string output;
    if (e2e::run({"/bin/sh", "-c", command}, {}, std::chrono::seconds(60), &output) != 0)
        return std::nullopt;
    return output;
}

} // namespace corvane::test
