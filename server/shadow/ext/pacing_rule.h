// When a client's next frame goes out: a client has at most `limit` frames
// sent and not yet acknowledged; while it is at the limit its changes wait
// (the library keeps them as the client's invalid region) and go out as one
// frame, with the newest picture, once an acknowledgement makes room. A
// graphics-pipeline client is taken to acknowledge from its first frame on; one
// that says it stops, or stays silent for `patienceMs` while changes wait,
// gets every frame, as the library sends them, until it acknowledges again.
//
// The limit follows the client's round trip. Each acknowledgement times its
// frame; the shortest time of the last few seconds is the round trip with
// nothing queued. A frame that took much longer waited in a queue (a full
// link, a client decoding behind), so the limit drops; while changes wait and
// frames come back as fast as they can, the link has room for one more.
// Pure: time comes in as `now` (ms).
#pragma once
#include <cstdint>

// Unacknowledged frames a client may have before its changes wait, at first
// and at the least and most the round trip may make of it.
inline constexpr uint32_t kShadowExtPacingLimit = 2;
inline constexpr uint32_t kShadowExtPacingLeastLimit = 1;
inline constexpr uint32_t kShadowExtPacingMostLimit = 6;
// How long changes wait for an acknowledgement before the client is taken
// for one that stopped acknowledging.
inline constexpr uint64_t kShadowExtPacingPatienceMs = 2000;
// The unqueued round trip is the shortest of this long (between half of it
// and all of it): long enough to see a quiet moment, short enough to follow
// a link that got slower.
inline constexpr uint64_t kShadowExtPacingBaseWindowMs = 8000;
// A frame queued for less than this, or than half the unqueued round trip,
// is on time (decoding and scheduling vary by as much).
inline constexpr uint64_t kShadowExtPacingLeastQueueMs = 20;
// A climb that had to come down again makes the next wait twice as many
// acknowledgements on time, up to 2^this times.
inline constexpr uint32_t kShadowExtPacingMostBackoff = 4;
// Frames remembered for timing their acknowledgements.
inline constexpr uint32_t kShadowExtPacingTimedFrames = 16;

struct ShadowExtPacingSent {
    uint32_t frameId = 0;
    uint64_t at = 0;
    bool used = false;
};

// The shortest acknowledgement time of two half windows, the older one and
// the one being filled.
struct ShadowExtPacingBase {
    uint64_t olderLeast = UINT64_MAX;
    uint64_t currentLeast = UINT64_MAX;
    uint64_t currentSince = 0;
};

struct ShadowExtPacingRule {
    uint32_t limit = kShadowExtPacingLimit;
    uint32_t leastLimit = kShadowExtPacingLeastLimit; // equal bounds: a fixed limit
    uint32_t mostLimit = kShadowExtPacingMostLimit;
    uint64_t patienceMs = kShadowExtPacingPatienceMs;
    bool acking = true;    // acknowledgements come: frames are paced
    bool started = false;  // a frame went out
    bool holding = false;  // changes wait for an acknowledgement
    uint32_t lastSent = 0; // frame ids, as the library numbers them
    uint32_t lastAcked = 0;
    uint64_t lastProgress = 0; // the last frame sent or acknowledged
    ShadowExtPacingSent sent[kShadowExtPacingTimedFrames];
    ShadowExtPacingBase base;
    uint64_t lastAdjust = 0;    // when the limit last moved
    bool heldSinceAdjust = false; // the limit held changes back since then
    uint32_t onTimeAcks = 0;    // acknowledgements on time in a row
    bool lastMoveUp = false;    // the limit's last move was a climb
    uint32_t probeBackoff = 0;  // climbs that failed lately
    uint64_t lastRoundTrip = 0; // the last acknowledged frame's, for the log
};

enum ShadowExtPacingVerdict { SHADOW_EXT_PACING_SEND, SHADOW_EXT_PACING_HOLD };

// Frames sent and not yet acknowledged.
uint32_t shadow_ext_pacing_rule_inflight(const ShadowExtPacingRule* rule);

// The round trip with nothing queued, as measured so far (0: not yet).
uint64_t shadow_ext_pacing_rule_base_ms(const ShadowExtPacingRule* rule);

// Changes are ready for the client: send them now, or hold them.
ShadowExtPacingVerdict shadow_ext_pacing_rule_offer(ShadowExtPacingRule* rule, uint64_t now);

// A frame with this id went out.
void shadow_ext_pacing_rule_sent(ShadowExtPacingRule* rule, uint32_t frameId, uint64_t now);

// The client acknowledged a frame (`suspended`: it says it stops
// acknowledging). True when held changes should go out now.
bool shadow_ext_pacing_rule_acked(ShadowExtPacingRule* rule, uint32_t frameId, bool suspended,
                                  uint64_t now);
