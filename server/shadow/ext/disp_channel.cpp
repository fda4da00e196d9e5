#include "disp_channel.h"

#include <winpr/synch.h>
#include <winpr/wtsapi.h>

#include <freerdp/channels/drdynvc.h>
#include <freerdp/log.h>
#include <freerdp/server/disp.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "shadow_ext.h"

#define TAG SERVER_TAG("shadow.ext.disp")

namespace {

constexpr auto kReadyPoll = std::chrono::milliseconds(50);
constexpr auto kReadyLimit = std::chrono::seconds(30);

pfnShadowClientConnect gLibraryConnect = nullptr;
pfnShadowClientDisconnect gLibraryDisconnect = nullptr;

// One client's channel: a thread waits for the client's dynamic channel,
// then opens display control; the library's channel thread delivers the
// layouts. Ending it stops the wait and closes the channel.
class DispChannel {
  public:
    DispChannel(rdpShadowSubsystem* subsystem, rdpShadowClient* client)
        : subsystem_(subsystem), client_(client), opener_([this] { openWhenReady(); }) {}

    ~DispChannel() {
        {
            std::lock_guard lock(mutex_);
            ending_ = true;
        }
        wake_.notify_all();
        opener_.join();
        if (context_)
            disp_server_context_free(context_);
    }

  private:
    static UINT layoutArrived(DispServerContext* context,
                              const DISPLAY_CONTROL_MONITOR_LAYOUT_PDU* pdu) {
        auto* self = static_cast<DispChannel*>(context->custom);
        auto* ext = reinterpret_cast<rdpShadowSubsystemExt*>(self->subsystem_);
        if (pdu && pdu->NumMonitors > 0 && pdu->Monitors && ext->DisplayLayout)
            ext->DisplayLayout(self->subsystem_, self->client_, pdu->NumMonitors, pdu->Monitors);
        return CHANNEL_RC_OK;
    }

    void openWhenReady() {
        const auto giveUp = std::chrono::steady_clock::now() + kReadyLimit;
        std::unique_lock lock(mutex_);
        while (!ending_ &&
               WTSVirtualChannelManagerGetDrdynvcState(client_->vcm) != DRDYNVC_STATE_READY) {
            if (std::chrono::steady_clock::now() > giveUp) {
                WLog_WARN(TAG, "the client's dynamic channel never became ready: no display "
                               "control for it");
                return;
            }
            wake_.wait_for(lock, kReadyPoll);
        }
        if (ending_)
            return;
        DispServerContext* context = disp_server_context_new(client_->vcm);
        if (!context)
            return;
        context->custom = this;
        context->rdpcontext = &client_->context;
        context->MaxNumMonitors = 16;
        context->MaxMonitorAreaFactorA = 8192;
        context->MaxMonitorAreaFactorB = 8192;
        context->DispMonitorLayout = layoutArrived;
        if (context->Open(context) != CHANNEL_RC_OK ||
            context->DisplayControlCaps(context) != CHANNEL_RC_OK) {
            WLog_WARN(TAG, "the display-control channel could not be opened");
            disp_server_context_free(context);
            return;
        }
        context_ = context;
    }

    rdpShadowSubsystem* subsystem_;
    rdpShadowClient* client_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool ending_ = false;
    DispServerContext* context_ = nullptr;
    std::thread opener_;
};

std::mutex gChannelsLock;
std::map<rdpShadowClient*, std::unique_ptr<DispChannel>> gChannels;

void endChannel(rdpShadowClient* client) {
    std::unique_ptr<DispChannel> ending;
    {
        std::lock_guard lock(gChannelsLock);
        auto it = gChannels.find(client);
        if (it == gChannels.end())
            return;
        ending = std::move(it->second);
        gChannels.erase(it);
    }
}

BOOL clientConnect(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    const BOOL accepted = gLibraryConnect ? gLibraryConnect(subsystem, client) : TRUE;
    if (!accepted || !client || !client->vcm)
        return accepted;
    auto channel = std::make_unique<DispChannel>(subsystem, client);
    std::unique_ptr<DispChannel> replaced;
    {
        std::lock_guard lock(gChannelsLock);
        replaced = std::move(gChannels[client]);
        gChannels[client] = std::move(channel);
    }
    return accepted;
}

void clientDisconnect(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    endChannel(client);
    if (gLibraryDisconnect)
        gLibraryDisconnect(subsystem, client);
}

} // namespace

extern "C" BOOL shadow_ext_install_disp_channel(rdpShadowServer* server) {
    if (!server || !server->subsystem)
        return FALSE;
    rdpShadowSubsystem* subsystem = server->subsystem;
    if (subsystem->ClientConnect != clientConnect) {
        gLibraryConnect = subsystem->ClientConnect;
        gLibraryDisconnect = subsystem->ClientDisconnect;
        subsystem->ClientConnect = clientConnect;
        subsystem->ClientDisconnect = clientDisconnect;
    }
    return TRUE;
}

extern "C" size_t shadow_ext_disp_channels(void) {
    std::lock_guard lock(gChannelsLock);
    return gChannels.size();
}
