// When a client's next frame goes out: a client has at most `limit` frames
// sent and not yet acknowledged; while it is at the limit its changes wait
// (the library keeps them as the client's invalid region) and go out as one
// frame, with the newest picture, once an acknowledgement makes room. A
// graphics-pipeline client is taken to acknowledge from its first frame on; one
// that says it stops, or stays silent for `patienceMs` while changes wait,
// gets every frame, as the library sends them, until it acknowledges again.
// Pure: time comes in as `now` (ms).
#pragma once
#include <cstdint>

// Unacknowledged frames a client may have before its changes wait.
inline constexpr uint32_t kShadowExtPacingLimit = 2;
// How long changes wait for an acknowledgement before the client is taken
// for one that stopped acknowledging.
inline constexpr uint64_t kShadowExtPacingPatienceMs = 2000;

struct ShadowExtPacingRule {
    uint32_t limit = kShadowExtPacingLimit;
    uint64_t patienceMs = kShadowExtPacingPatienceMs;
    bool acking = true;    // acknowledgements come: frames are paced
    bool started = false;  // a frame went out
    bool holding = false;  // changes wait for an acknowledgement
    uint32_t lastSent = 0; // frame ids, as the library numbers them
    uint32_t lastAcked = 0;
    uint64_t lastProgress = 0; // the last frame sent or acknowledged
};

enum ShadowExtPacingVerdict { SHADOW_EXT_PACING_SEND, SHADOW_EXT_PACING_HOLD };

// Frames sent and not yet acknowledged.
uint32_t shadow_ext_pacing_rule_inflight(const ShadowExtPacingRule* rule);

// Changes are ready for the client: send them now, or hold them.
ShadowExtPacingVerdict shadow_ext_pacing_rule_offer(ShadowExtPacingRule* rule, uint64_t now);

// A frame with this id went out.
void shadow_ext_pacing_rule_sent(ShadowExtPacingRule* rule, uint32_t frameId, uint64_t now);

// The client acknowledged a frame (`suspended`: it says it stops
// acknowledging). True when held changes should go out now.
bool shadow_ext_pacing_rule_acked(ShadowExtPacingRule* rule, uint32_t frameId, bool suspended,
                                  uint64_t now);
