// SIGTERM and SIGINT to the application end it the orderly way: the event
// loop quits, and the quit path stops the server before the process exits.
#pragma once

namespace corvane::app::ui {

// Installs the handlers; call once the application object exists.
bool quitOnTerminationSignals();

} // namespace corvane::app::ui
