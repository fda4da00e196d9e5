#include "app/core/main_queue.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace corvane::app {

void postToMain(std::function<void()> job) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) {
        job();
        return;
    }
    QMetaObject::invokeMethod(application, std::move(job), Qt::QueuedConnection);
}

} // namespace corvane::app
