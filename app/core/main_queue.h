// "The main queue": work handed to the application's main thread, run by
// Qt's event loop of the QCoreApplication.
#pragma once
#include <functional>

namespace corvane::app {

// Queues `job` to run on the main thread's event loop. Without an
// application object, or once the application has announced its end
// (aboutToQuit) or is being destroyed, the job is dropped: it never runs on
// the posting thread against state that is being destroyed.
void postToMain(std::function<void()> job);

} // namespace corvane::app
