#include "help_text.h"

#include <cstring>

namespace {

// Flags are tested on their first character; numbers out of range fall back
// to their defaults (the header line says so once).
const CorvaneServerVariable kVariables[] = {
    {"CORVANE_PLATFORM",
     "Desktop backend: gnome, x11 or sim (a simulated desktop for tests); "
     "default: gnome on a GNOME Wayland session, else x11 where DISPLAY is set"},
    {"XDG_SESSION_TYPE", "\"wayland\": a Wayland session (with WAYLAND_DISPLAY, for the default "
                         "backend)"},
    {"WAYLAND_DISPLAY", "Set on a Wayland session (for the default backend)"},
    {"DISPLAY", "The X display the x11 backend shares (and the default backend's fall-back)"},
    {"CORVANE_X11_SCALE", "Pixels per point on X11, 1-4 (default 1)"},
    {"MAC_SHADOW_FPS", "Capture frame rate, 1-60 (default 30)"},
    {"MAC_SHADOW_ADAPTIVE_FPS", "\"0\": keep the frame rate when little changes (default on)"},
    {"MAC_SHADOW_IDLE_AWAKE_MIN",
     "Minutes the desktop is kept awake after the last remote input, 1-240 (default 15)"},
    {"MAC_SHADOW_SCALE", "Share a 2x main display at this scale, 0.25-1.0 (default: its points)"},
    {"MAC_SHADOW_NATIVE", "\"1\": share a 2x main display at its full pixel size"},
    {"MAC_SHADOW_CURSOR", "\"0\": leave the cursor out of the picture (default in)"},
    {"MAC_SHADOW_VIRTUAL",
     "auto (default), never or always: give a client's monitor layout displays of its own"},
    {"MAC_SHADOW_MIRROR", "\"0\": extend the desktop with the client's displays instead of "
                          "mirroring (default mirror)"},
    {"MAC_SHADOW_MAX_PIXELS",
     "Pixels per monitor a client's layout is scaled down to, from 500000 (default 2073600)"},
    {"MAC_SHADOW_MAX_WIDTH", "Widest desktop in pixels, 640-8192 (default no limit)"},
    {"MAC_SHADOW_SIZE_ALIGN", "Round desktop sizes down to a multiple of 4, 8 or 16 (default 2)"},
    {"MAC_SHADOW_AUDIO", "\"0\": offer clients no sound (default: the system sound)"},
    {"MAC_SHADOW_CLIPBOARD", "\"0\": no clipboard channel (default on)"},
    {"MAC_SHADOW_CTRL_AS_CMD",
     "\"0\": the client's Ctrl keys stay Ctrl (default: they act as the Super key)"},
    {"MAC_SHADOW_BITRATE_MBPS", "H.264 bit rate in Mbit/s, 1-1000 (default 10)"},
    {"MAC_SHADOW_H264_PROFILE", "H.264 profile: baseline (default), main or high"},
    {"MAC_SHADOW_H264_GOP_SEC",
     "Seconds between H.264 key frames, 1-3600 (default: the encoder's)"},
    {"FREERDP_VIDEOTOOLBOX_ENCODER",
     "Read for the hardware encoder setting; changes nothing here (no hardware encoder)"},
    {"MAC_SHADOW_NLA", "Windows (NLA) login as USER:NT-HASH; read once, then removed from the "
                       "environment"},
    {"MAC_SHADOW_ALLOWED_USERS", "Accounts that may log in with a password: names and @groups, "
                                 "comma-separated (default: the server's own and the "
                                 "administrators)"},
    {"MAC_SHADOW_ADMIN_GROUP", "The administrators group of the default rule (default sudo, "
                               "else wheel)"},
    {"MAC_SHADOW_CONNECTION_LOG", "Connection log file (JSON lines; default "
                                  "~/.local/state/Corvane/connections.jsonl; empty: none)"},
    {"XDG_STATE_HOME", "The state folder of the default connection log (default ~/.local/state)"},
    {"HOME", "The home folder of the default connection log"},
    {"MAC_SHADOW_STATS_FILE", "File the server writes its statistics to (default none)"},
    {"MAC_SHADOW_CONTROL", "Socket of the control channel for the application (default "
                           "$XDG_RUNTIME_DIR/corvane/control)"},
    {"XDG_RUNTIME_DIR", "The user's runtime folder: where the control channel's socket is made"},
    {"MAC_SHADOW_ASK", "When a client has logged in: allow (let it in; the default), ask (ask the "
                       "application first), ask-unless-away (let it in unasked when nobody is at "
                       "the desktop)"},
    {"MAC_SHADOW_ASK_TIMEOUT", "Seconds the host has to answer before the client is refused "
                               "(default 30, 5 to 600)"},
    {"MAC_SHADOW_AWAY_IDLE", "Seconds without local input after which nobody is at the desktop "
                             "(default 300)"},
    {"MAC_SHADOW_LOCK_ON_LEAVE", "Lock the session when the last client leaves: auto (when it "
                                 "was locked or idle as the first came; the default), on, off"},
    {"XDG_SESSION_ID", "The login session whose idle and lock state are read and which is locked"},
    {"MAC_SHADOW_PARENT_WATCH", "\"1\": end when the parent process ends"},
    {"MAC_SHADOW_PERMS", "check: print \"screen=N input=N\" and exit 0 without opening a socket"},
    {"MAC_SHADOW_EXT_OFF", "Extension hooks to switch off, comma-separated, or all"},
    {"MAC_SHADOW_EXT_TRY", "Extension hooks to run on a FreeRDP they were not verified on"},
    {"WLOG_APPENDER", "Set: WinPR's own log appenders, repeated library lines unfiltered"},
    {"CORVANE_SIM_MAIN_DISPLAY", "sim backend: the main display as WxH@scale"},
    {"CORVANE_SIM_PRIVACY_DB", "sim backend: a file of \"bundle service granted|denied\" lines"},
    {"CORVANE_SIM_ACCOUNTS", "sim backend: local accounts as user:password,..."},
    {"CORVANE_SIM_DOUBLE_CLICK_MS", "sim backend: the double-click interval in milliseconds"},
    {nullptr, nullptr},
};

} // namespace

const CorvaneServerVariable* corvane_server_variables(void) {
    return kVariables;
}

void corvane_print_server_environment(FILE* out) {
    std::fputs("\nEnvironment (flags are read from their first character; a number out of "
               "range\nmeans its default):\n",
               out);
    for (const CorvaneServerVariable* v = kVariables; v->name; ++v) {
        if (std::strlen(v->name) < 28)
            std::fprintf(out, "    %-28s %s\n", v->name, v->help);
        else
            std::fprintf(out, "    %s\n    %-28s %s\n", v->name, "", v->help);
    }
    std::fputs("\nWLOG_LEVEL (e.g. INFO, DEBUG) sets how much the server logs; PULSE_SERVER "
               "names the\nsound server; the TLS certificate is kept in "
               "$XDG_CONFIG_HOME/freerdp/shadow.\nSee corvane-server(1).\n",
               out);
}
