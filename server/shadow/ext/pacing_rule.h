// When a client's next frame goes out: a client has at most `limit` frames
// sent and not yet acknowledged; while it is at the limit its changes wait
// (the library keeps them as the client's invalid region) and go out as one
// frame, with the newest picture, once an acknowledgement makes room. A
// graphics-pipeline client is taken to acknowledge from its first frame on; one
// that says it stops, or stays silent for `patienceMs` while changes wait,
// gets every frame, as the library sends them, until it acknowledges again.
//
// The limit follows the client's link: as many frames as it carries in one
// round trip, and a tenth more. Each acknowledgement measures how many
// frames a second reached the client since its frame went out (the best of
// the last seconds: what the link or the client's decoding can take) and how
// long its frame took (the shortest of the last seconds, of frames sent with
// nothing else in flight: the round trip with nothing queued); their product
// is what fills the link without a queue. The
// tenth more lets a link with room show it: the limit grows with what gets
// through, round trip by round trip.
// Pure: time comes in as `now` (ms).
#pragma once
#include <cstdint>

// Unacknowledged frames a client may have before its changes wait, at first
// and at the least and most the link may make of it. Not fewer than two:
// frames differ in size, and one small frame's quick round trip would make
// the bigger ones look like more than the link carries, down to one frame a
// round trip.
inline constexpr uint32_t kShadowExtPacingLimit = 2;
inline constexpr uint32_t kShadowExtPacingLeastLimit = 2;
inline constexpr uint32_t kShadowExtPacingMostLimit = 6;
// How long changes wait for an acknowledgement before the client is taken
// for one that stopped acknowledging.
inline constexpr uint64_t kShadowExtPacingPatienceMs = 2000;
// The unqueued round trip is the shortest of this long (between half of it
// and all of it, or longer while the link stays busy): long enough to see a
// quiet moment, short enough to follow a link that got slower.
inline constexpr uint64_t kShadowExtPacingBaseWindowMs = 8000;
// The best rate of frames holds this long, unless a better one comes.
inline constexpr uint64_t kShadowExtPacingRateWindowMs = 2000;
// Frames in flight against what the link carries, in tenths of it: a tenth
// more, so that a link with room shows it (the limit is rounded up), and
// little enough to keep the queue on a full link under a frame.
inline constexpr uint32_t kShadowExtPacingHeadroomTenths = 11;
// Frames remembered for timing their acknowledgements.
inline constexpr uint32_t kShadowExtPacingTimedFrames = 16;

struct ShadowExtPacingSent {
    uint32_t frameId = 0;
    uint64_t at = 0;
    uint64_t deliveredBefore = 0; // frames acknowledged when it went out
    uint64_t deliveredAt = 0;     // and when the last of those was
    bool changesWaited = false;   // it went out after changes were held
    bool alone = false;           // it went out with nothing else in flight
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
    bool acking = true;         // acknowledgements come: frames are paced
    bool started = false;       // a frame went out
    bool holding = false;       // changes wait for an acknowledgement
    bool heldSinceSent = false; // changes were held since the last frame went out
    uint32_t lastSent = 0;      // frame ids, as the library numbers them
    uint32_t lastAcked = 0;
    uint64_t lastProgress = 0; // the last frame sent or acknowledged
    ShadowExtPacingSent sent[kShadowExtPacingTimedFrames];
    ShadowExtPacingBase base;
    uint64_t delivered = 0;   // frames acknowledged
    uint64_t deliveredAt = 0; // when the last was
    uint32_t rateMilli = 0;   // the best frames per 1000 s lately
    uint64_t rateSince = 0;
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
