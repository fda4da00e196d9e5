// The application's words on macOS: this Mac, a Mac account, System Settings.
#include "app/core/words.h"

namespace corvane::app {

const char* words(Words w) {
    switch (w) {
    case Words::mirrorTitle:
        return "Mirror this Mac (recommended)";
    case Words::asIsTitle:
        return "This Mac's screen as is";
    case Words::remoteScreenTip:
        return "When the remote screen has a different shape from the Mac's: mirror shows the "
               "Mac's own desktop at the remote's resolution; a separate screen leaves the Mac's "
               "desktop alone; as is shows the Mac's screen with black bars. A client that asks "
               "for Retina pixels (Windows App: Optimize for Retina displays) gets a 2x (HiDPI) "
               "desktop: sharp, with text and windows at their normal size.";
    case Words::loginTip:
        return "Windows clients (Remote Desktop Connection, the Windows App) log in with Network "
               "Level Authentication, which needs a password Corvane keeps itself. Set a user "
               "name and password here and use them in those clients. The session is still this "
               "Mac's logged-in user.";
    case Words::clipboardTip:
        return "Copy and paste both ways, for signed-in sessions that may control this Mac.";
    case Words::cursorInVideo:
        return "Draw the Mac cursor in the video";
    case Words::requirePassword:
        return "Require the password of a Mac account (recommended)";
    case Words::ctrlAsCmd:
        return "Treat Ctrl as Cmd (Windows shortcuts)";
    case Words::sendSound:
        return "Send the Mac's sound to the remote session";
    case Words::hardwareEncoder:
        return "Use the Mac's video encoder (VideoToolbox)";
    case Words::loginNotSet:
        return "Not set: Windows clients get TLS only and must send a Mac account password.";
    case Words::afterRestart:
        return "After this Mac restarts, log in at the Mac once before connecting: Corvane only "
               "runs while you are logged in. Once you are logged in, a locked screen is fine: "
               "you can unlock it from the Windows App.";
    case Words::openAtLoginHint:
        return "Turn on \"Open Corvane at Login\" in the menu, or it will not start after a "
               "restart at all.";
    case Words::listeningOnPort:
        return "The server is listening on port {port} on this Mac.";
    case Words::noNetworkAddress:
        return "This Mac has no network address. Connect to Wi-Fi or Ethernet.";
    case Words::forwardPort:
        return " to this Mac on your router to use it, which exposes the Mac to the internet, so "
               "a VPN is safer.";
    case Words::firewallHint:
        return "If Windows App cannot connect: check the Mac firewall allows Corvane, and that "
               "both computers are on the same network.";
    case Words::permissionsIntro:
        return "Corvane puts its server into these two lists in System Settings.  Switch it on "
               "in each; this window updates by itself.";
    case Words::screenAccess:
        return "Screen Recording";
    case Words::screenAccessHint:
        return "Switch on \"Corvane\": lets the server see your screen and sound.";
    case Words::inputAccess:
        return "Accessibility";
    case Words::inputAccessHint:
        return "Switch on \"Corvane Server\": remote keyboard and mouse.";
    case Words::repairing:
        return "Adding Corvane Server to the lists in System Settings\u2026  (macOS may show its "
               "own prompts: choose Open System Settings.)";
    case Words::serverNotAsked:
        return "Corvane Server could not be asked (is it missing from the app?).  Reinstall "
               "Corvane.";
    case Words::serverMissing:
        return "Corvane Server not found inside the app. Reinstall Corvane.";
    case Words::screenMissing:
        return "\"Corvane\" under Screen Recording";
    case Words::inputMissing:
        return "\"Corvane Server\" under Accessibility";
    case Words::permissionsForgotten:
        return "macOS forgot the permissions after Corvane was updated.  Switch on {list} again; "
               "this window updates by itself.";
    case Words::switchOn:
        return "Switch on {list} in the list that opens; this window updates by itself.";
    case Words::oneClientConnected:
        return "{account} from {address} connected";
    case Words::clientsConnected:
        return "{count} clients connected";
    case Words::clientCame:
        return "{account} from {address} is connected to this Mac's screen.";
    case Words::clientWent:
        return "{account} from {address} left this Mac's screen.";
    case Words::clientAsks:
        return "{account} from {address} asks to connect to this Mac's screen.";
    case Words::systemName:
        return "macOS";
    }
    return "";
}

} // namespace corvane::app
