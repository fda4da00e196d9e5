// freerdp-shadow-cli: FreeRDP's shadow server with our "Mac" subsystem.
#include <freerdp/log.h>
#include <freerdp/server/shadow.h>
#include <freerdp/settings.h>
#include <winpr/cmdline.h>

#include "arguments.h"
#include "cert_folder.h"
#include "help_text.h"
#include "log_lines.h"
#include "server/shadow/ext/changed_region.h"
#include "server/shadow/ext/cliprdr_channel.h"
#include "server/shadow/ext/disp_channel.h"
#include "server/shadow/ext/frame_pacing.h"
#include "server/shadow/ext/gfx_codec.h"
#include "server/shadow/ext/h264_tuning.h"
#include "server/shadow/ext/hook_gate.h"
#include "server/shadow/ext/peer_guard.h"
#include "server/shadow/ext/peer_hooks.h"
#include "server/shadow/ext/shadow_ext.h"

#define TAG SERVER_TAG("shadow")

namespace {

// Every security layer and codec is allowed unless the command line says
// otherwise.
bool applyDefaults(rdpSettings* settings) {
    return freerdp_settings_set_bool(settings, FreeRDP_NlaSecurity, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_TlsSecurity, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_RdpSecurity, TRUE) &&
           freerdp_settings_set_uint32(settings, FreeRDP_ColorDepth, 32) &&
           freerdp_settings_set_bool(settings, FreeRDP_NSCodec, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_RemoteFxCodec, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_RemoteFxImageCodec, TRUE) &&
           freerdp_settings_set_uint32(settings, FreeRDP_RemoteFxRlgrMode, RLGR3) &&
           freerdp_settings_set_bool(settings, FreeRDP_GfxH264, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_GfxAVC444, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_GfxAVC444v2, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_GfxProgressive, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_GfxProgressiveV2, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_MouseUseRelativeMove, FALSE) &&
           freerdp_settings_set_bool(settings, FreeRDP_HasRelativeMouseEvent, FALSE);
}

// Without authentication, whoever reaches the port works this desktop: say
// so where nobody can miss it.
void warnWhenOpenToTheNetwork(const rdpShadowServer* server, COMMAND_LINE_ARGUMENT_A* args) {
    if (server->authentication ||
        !corvane_reachable_from_network(corvane_argument_value(args, "bind-address"),
                                        corvane_argument_value(args, "ipc-socket")))
        return;
    static const char rule[] = "****************************************************************";
    WLog_WARN(TAG, "%s", rule);
    WLog_WARN(TAG,
              "NO AUTHENTICATION (-auth) on a network address: anyone who can reach port %u "
              "sees this desktop and uses its keyboard and mouse without a password",
              static_cast<unsigned>(server->port));
    WLog_WARN(TAG, "use +auth, or /bind-address:127.0.0.1 to keep the server to this computer");
    WLog_WARN(TAG, "%s", rule);
}

// Our parts of the server, in order, each behind the gate of its hook: a
// hook that is off leaves the library's own behaviour in place. The first
// install that fails stops the start.
bool installExtensions(rdpShadowServer* server) {
    const struct {
        ShadowExtHook hook;
        BOOL (*install)(rdpShadowServer*);
        const char* failure;
    } steps[] = {
        // Connection limits, NLA and peer-end hooks on every connection.
        {SHADOW_EXT_PEER_HOOKS, shadow_ext_install_peer_hooks, "Failed to install the peer hooks."},
        // Logins before publication; the guard's watchdog closes the
        // connections that would hold the others.
        {SHADOW_EXT_LOGIN_HANDSHAKE, [](rdpShadowServer*) { return shadow_ext_guard_start(); },
         "Failed to start the connection guard."},
        {SHADOW_EXT_CLIPBOARD, shadow_ext_install_cliprdr, "Failed to install the clipboard channel."},
        // Display control for every client, its layouts to the subsystem.
        {SHADOW_EXT_DISPLAY_CONTROL, shadow_ext_install_disp_channel,
         "Failed to install the display-control channel."},
        // H.264 AVC420 for the clients that can take it when AVC444 is off.
        {SHADOW_EXT_GFX_CODEC, shadow_ext_install_gfx_codec,
         "Failed to install the graphics codec choice."},
        // Planar, progressive and RemoteFX frames of only what changed, flat
        // tiles as fills.
        {SHADOW_EXT_CHANGED_REGION, shadow_ext_install_changed_region,
         "Failed to install the changed-region encoding."},
        // At most a few unacknowledged frames per client; its changes wait
        // and go out together.
        {SHADOW_EXT_FRAME_PACING, shadow_ext_install_frame_pacing,
         "Failed to install the frame pacing."},
    };
    shadow_ext_hooks_decide();
    // Bit rate and frame rate are the library's own settings; profile and
    // key frames go through the h264-tuning hook.
    if (!shadow_ext_h264_configure(server)) {
        WLog_ERR(TAG, "Failed to configure the H.264 encoder.");
        return false;
    }
    for (const auto& step : steps) {
        if (!shadow_ext_hook_on(step.hook))
            continue;
        if (!step.install(server)) {
            WLog_ERR(TAG, "%s", step.failure);
            return false;
        }
    }
    return true;
}

int runServer(rdpShadowServer* server, int argc, char** argv) {
    COMMAND_LINE_ARGUMENT_A* args = corvane_server_arguments();
    if (!applyDefaults(server->settings) || !shadow_ext_attach(server))
        return -1;
    std::vector<char*> line = corvane_server_argv(argc, argv);
    int status = shadow_server_parse_command_line(server, argc, line.data(), args);
    if (status < 0) {
        const int printed =
            shadow_server_command_line_status_print(server, argc, line.data(), status, args);
        // The library lists the switches; the variables are ours to add.
        if (status == COMMAND_LINE_STATUS_PRINT_HELP) {
            std::fflush(stdout);
            corvane_print_server_environment(stdout);
        }
        // Help, version, build configuration or the monitor list were asked
        // for and printed: a success.
        const bool asked =
            status <= COMMAND_LINE_STATUS_PRINT && status >= COMMAND_LINE_STATUS_PRINT_LAST;
        return asked ? 0 : printed;
    }
    shadow_ext_of(server)->serverSideCursor = corvane_argument_enabled(args, "server-side-cursor");

    warnWhenOpenToTheNetwork(server, args);

    // The library creates the certificate and key inside init (before the
    // probe run ends there too): they are made private to the user.
    corvane_private_certificate_folder();
    int initStatus = 0;
    {
        PrivateFileMode privateFiles;
        initStatus = shadow_server_init(server);
    }
    if (initStatus < 0) {
        WLog_ERR(TAG, "Server initialization failed.");
        return -1;
    }
    // After init: the permission probe ends the process inside it and its
    // standard output carries nothing but the probe line.
    shadow_ext_raise_open_files_limit();
    if (!installExtensions(server))
        return -1;
    if (shadow_server_start(server) < 0) {
        WLog_ERR(TAG, "Failed to start server.");
        return -1;
    }
    (void)WaitForSingleObject(server->thread, INFINITE);
    DWORD exitCode = 0;
    return GetExitCodeThread(server->thread, &exitCode) ? static_cast<int>(exitCode) : -1;
}

} // namespace

int main(int argc, char** argv) {
    corvane_install_log_lines();
    shadow_subsystem_set_entry_builtin(nullptr);
    rdpShadowServer* server = shadow_server_new();
    if (!server) {
        WLog_ERR(TAG, "Server new failed");
        return 1;
    }
    const int status = runServer(server, argc, argv);
    shadow_server_uninit(server);
    shadow_server_free(server);
    return status < 0 ? 1 : status;
}
