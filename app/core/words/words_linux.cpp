// The application's words on Linux: this computer, a local account, the
// desktop session, and what the server goes through to share it (the X
// server, or GNOME's screen-cast and remote-desktop interfaces).
#include "app/core/words/words_linux.h"

#include "platform/platform.h"

namespace corvane::app {

namespace {

// The texts that name what the server shares the desktop through.
const char* gnomeWords(Words w) {
    switch (w) {
    case Words::permissionsIntro:
        return "Corvane's server records this desktop and sends it the remote keyboard and mouse "
               "through GNOME's screen-cast and remote-desktop interfaces.  This window updates "
               "by itself.";
    case Words::screenAccessHint:
        return "GNOME's screen-cast interface: the server sees your screen and hears your sound.";
    case Words::inputAccessHint:
        return "GNOME's remote-desktop interface: remote keyboard and mouse.";
    case Words::repairing:
        return "Checking again that Corvane Server can record the desktop and send input\u2026";
    case Words::screenMissing:
        return "GNOME's screen-cast interface is not on the session bus";
    case Words::inputMissing:
        return "GNOME's remote-desktop interface takes no input";
    default:
        return nullptr;
    }
}

} // namespace

const char* words(Words w) {
    static const LinuxDesktop desktop =
        platform::backendName() == "gnome" ? LinuxDesktop::gnome : LinuxDesktop::x11;
    return linuxWords(w, desktop);
}

const char* linuxWords(Words w, LinuxDesktop desktop) {
    if (desktop == LinuxDesktop::gnome)
        if (const char* text = gnomeWords(w))
            return text;
    switch (w) {
    case Words::mirrorTitle:
        return "Mirror this computer (recommended)";
    case Words::asIsTitle:
        return "This computer's screen as is";
    case Words::remoteScreenTip:
        return "When the remote screen has a different shape from this computer's: mirror gives "
               "this computer's desktop the remote's resolution; a separate screen leaves this "
               "computer's desktop alone; as is shows this computer's screen with black bars.";
    case Words::loginTip:
        return "Windows clients (Remote Desktop Connection, the Windows App) log in with Network "
               "Level Authentication, which needs a password Corvane keeps itself. Set a user "
               "name and password here and use them in those clients. The session is still the "
               "desktop of the user logged in on this computer.";
    case Words::clipboardTip:
        return "Copy and paste both ways, for signed-in sessions that may control this computer.";
    case Words::cursorInVideo:
        return "Draw this computer's pointer in the video";
    case Words::requirePassword:
        return "Require the password of a local account (recommended)";
    case Words::ctrlAsCmd:
        return "Treat Ctrl as Super";
    case Words::sendSound:
        return "Send this computer's sound to the remote session";
    case Words::hardwareEncoder:
        return "Use a hardware video encoder where there is one";
    case Words::loginNotSet:
        return "Not set: Windows clients get TLS only and send a local account's password.";
    case Words::afterRestart:
        return "After this computer restarts, log in to its desktop once before connecting: "
               "Corvane runs inside your desktop session. Once you are logged in, a locked "
               "screen is fine: you can unlock it from the Windows App.";
    case Words::openAtLoginHint:
        return "Turn on \"Open Corvane at Login\" in the menu (it adds Corvane to your desktop's "
               "autostart), or it will not start after a restart at all.";
    case Words::listeningOnPort:
        return "The server is listening on port {port} on this computer.";
    case Words::noNetworkAddress:
        return "This computer has no network address. Connect to Wi-Fi or Ethernet.";
    case Words::forwardPort:
        return " to this computer on your router to use it, which exposes this computer to the "
               "internet, so a VPN is safer.";
    case Words::firewallHint:
        return "If Windows App cannot connect: check that this computer's firewall lets port "
               "{port} in, and that both computers are on the same network.";
    case Words::permissionsIntro:
        return "Corvane's server reads this desktop and sends it the remote keyboard and mouse "
               "through the X server.  This window updates by itself.";
    case Words::screenAccess:
        return "Screen";
    case Words::screenAccessHint:
        return "The server opens this display: it sees your screen and hears your sound.";
    case Words::inputAccess:
        return "Keyboard and mouse";
    case Words::inputAccessHint:
        return "The X server's XTest extension: remote keyboard and mouse.";
    case Words::repairing:
        return "Checking again that Corvane Server can open the display and send input\u2026";
    case Words::serverNotAsked:
        return "Corvane Server could not be asked (is it missing from the installation?).  "
               "Reinstall Corvane.";
    case Words::serverMissing:
        return "Corvane Server was not found next to Corvane. Reinstall Corvane.";
    case Words::screenMissing:
        return "the display cannot be opened or read";
    case Words::inputMissing:
        return "the X server has no XTest extension";
    case Words::permissionsForgotten:
    case Words::switchOn:
        return "Corvane Server cannot work here: {list}.  Start Corvane inside your desktop "
               "session; this window updates by itself.";
    case Words::oneClientConnected:
        return "{account} from {address} connected";
    case Words::clientsConnected:
        return "{count} clients connected";
    case Words::clientCame:
        return "{account} from {address} is connected to this computer's desktop.";
    case Words::clientWent:
        return "{account} from {address} left this computer's desktop.";
    case Words::clientAsks:
        return "{account} from {address} asks to connect to this computer's desktop.";
    case Words::systemName:
        return "Linux";
    }
    return "";
}

} // namespace corvane::app
