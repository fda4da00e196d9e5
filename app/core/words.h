// The texts that speak of the computer, its accounts, its settings and its
// parts, in the words of the platform the application is built for: each
// platform's texts stand together in one file of words/. A "{port}" in a
// text is filled in by the caller.
#pragma once
#include <string>

namespace corvane::app {

enum class Words {
    mirrorTitle,       // remote-screen choice: the desktop takes the client's size
    asIsTitle,         // remote-screen choice: the screen as it is
    remoteScreenTip,   // what the three choices mean
    loginTip,          // the Windows login (NLA) fields
    clipboardTip,      // the clipboard check box
    cursorInVideo,     // check box: the pointer drawn into the picture
    requirePassword,   // check box: logins with a local account's password
    ctrlAsCmd,         // check box: Ctrl sent as the platform's command key
    sendSound,         // check box: the computer's sound to the client
    hardwareEncoder,   // check box: a hardware H.264 encoder
    loginNotSet,       // status under the login fields when none is kept
    afterRestart,      // what to do after the computer restarts
    openAtLoginHint,   // added when the application does not start at login
    listeningOnPort,   // the server answers on {port}
    noNetworkAddress,  // the computer has no address
    forwardPort,       // a public address: forward {port} here
    firewallHint,      // when a client cannot connect
    permissionsIntro,  // the permissions window's first line
    screenAccess,      // heading of the screen permission
    screenAccessHint,  // what the screen permission gives
    inputAccess,       // heading of the input permission
    inputAccessHint,   // what the input permission gives
    repairing,         // while the permissions are being repaired
    serverNotAsked,    // the server could not be asked about permissions
    serverMissing,     // the server is not where the application installs it
    screenMissing,     // the screen permission is missing (summary)
    inputMissing,      // the input permission is missing (summary)
    permissionsForgotten, // after an update the system forgot them: {list}
    switchOn,          // how to give what is missing: {list}
    oneClientConnected, // status line: the one client, "{account} from {address} connected"
    clientsConnected,  // status line: "{count} clients connected"
    clientCame,        // notification: {account} from {address} got the desktop
    clientWent,        // notification: {account} from {address} left
    clientAsks,        // notification: {account} from {address} waits for an answer
    systemName,        // the system's name before its version in a report
};

// The text of `words` on this platform.
const char* words(Words words);

// `text` with every "{name}" replaced by `value`.
std::string fillWords(std::string text, const std::string& name, const std::string& value);

} // namespace corvane::app
