#include "sound_formats.h"

#include <freerdp/codec/audio.h>

extern "C" BOOL shadow_ext_client_own_sound_formats(rdpShadowClient* client) {
    if (!client || !client->rdpsnd || !client->subsystem)
        return FALSE;
    RdpsndServerContext* sound = client->rdpsnd;
    const AUDIO_FORMAT* shared = client->subsystem->rdpsndFormats;
    if (!shared || sound->server_formats != shared)
        return FALSE;
    const size_t count = client->subsystem->nRdpsndFormats;
    AUDIO_FORMAT* own = count ? audio_formats_new(count) : nullptr;
    bool copied = own != nullptr;
    for (size_t i = 0; copied && i < count; ++i)
        copied = audio_format_copy(&shared[i], &own[i]);
    if (!copied) {
        audio_formats_free(own, count);
        own = nullptr;
    }
    // The shared list stays valid for the life of the process, so a channel
    // thread that still reads through the old pointer reads the same values.
    sound->server_formats = own;
    if (!own)
        sound->num_server_formats = 0;
    return own != nullptr;
}
