// "The main queue": work handed to the application's main thread, run by
// Qt's event loop of the QCoreApplication.
#pragma once
#include <functional>

namespace corvane::app {

// Queues `job` to run on the main thread's event loop. Without an
// application object there is no main loop; the job then runs at once on the
// calling thread so that no result is ever lost.
void postToMain(std::function<void()> job);

} // namespace corvane::app
