#include "app/core/main_queue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <mutex>

namespace corvane::app {

namespace {

// Whether the main loop still takes jobs. The gate closes when the
// application announces its end (aboutToQuit) or is destroyed, so that no
// posting thread reads the application object while it goes away.
struct Gate {
    std::mutex mutex;
    QCoreApplication* open = nullptr; // the application taking jobs
    bool closed = false;              // it has announced its end
};

Gate& gate() {
    static Gate* shared = new Gate; // outlives every static destructor
    return *shared;
}

// Called with the gate's mutex held, for an application seen the first time.
void watchEnd(Gate& g, QCoreApplication* application) {
    g.open = application;
    g.closed = false;
    QObject::connect(
        application, &QCoreApplication::aboutToQuit, application,
        [] {
            std::lock_guard guard(gate().mutex);
            gate().closed = true;
        },
        Qt::DirectConnection);
    QObject::connect(
        application, &QObject::destroyed, application,
        [application] {
            std::lock_guard guard(gate().mutex);
            if (gate().open == application) {
                gate().open = nullptr;
                gate().closed = false;
            }
        },
        Qt::DirectConnection);
}

} // namespace

void postToMain(std::function<void()> job) {
    Gate& g = gate();
    std::lock_guard guard(g.mutex);
    if (!g.open) {
        QCoreApplication* application = QCoreApplication::instance();
        // No main loop, or one being torn down: the job is dropped. Running
        // it here would touch, from this thread, state that is going away.
        if (!application || QCoreApplication::closingDown())
            return;
        watchEnd(g, application);
    }
    if (g.closed)
        return;
    QMetaObject::invokeMethod(g.open, std::move(job), Qt::QueuedConnection);
}

} // namespace corvane::app
