#include "pacing_rule.h"

#include <algorithm>

namespace {

// Frame ids wrap: `a` after `b` when it is less than half the range ahead.
bool after(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) > 0;
}

uint64_t baseOf(const ShadowExtPacingBase& base) {
    return std::min(base.olderLeast, base.currentLeast);
}

// Only frames that went out with none before them in flight time the link
// itself: the others may have waited behind those, and a queue timed as the
// round trip would make room for a longer queue (one of them that came back
// sooner still shows the round trip is shorter). A half window without such
// a frame keeps what the one before it knew.
void noteRoundTrip(ShadowExtPacingBase& base, uint64_t took, uint64_t now) {
    const uint64_t half = kShadowExtPacingBaseWindowMs / 2;
    if (baseOf(base) == UINT64_MAX) {
        base.currentSince = now;
    } else if (now - base.currentSince >= half) {
        if (base.currentLeast != UINT64_MAX)
            base.olderLeast = base.currentLeast;
        base.currentLeast = UINT64_MAX;
        base.currentSince = now;
    }
    base.currentLeast = std::min(base.currentLeast, took);
}

// The acknowledged frame as it went out; the frames up to it are forgotten.
// False for a frame not remembered.
bool sentRecordOf(ShadowExtPacingRule* rule, uint32_t frameId, ShadowExtPacingSent* out) {
    bool found = false;
    for (ShadowExtPacingSent& sent : rule->sent) {
        if (!sent.used || after(sent.frameId, frameId))
            continue;
        if (sent.frameId == frameId) {
            *out = sent;
            found = true;
        }
        sent.used = false;
    }
    return found;
}

// Frames a second that reached the client while this one travelled; the
// best of the window counts. A frame that went out with no changes held
// before it was all there was to send: its rate says only that the link
// takes at least that much, so it never replaces a better one.
void noteRate(ShadowExtPacingRule* rule, const ShadowExtPacingSent& sent, uint64_t now) {
    if (now <= sent.deliveredAt)
        return;
    const uint64_t frames = rule->delivered - sent.deliveredBefore;
    const uint64_t milli = frames * 1000000 / (now - sent.deliveredAt);
    const uint32_t rate = static_cast<uint32_t>(std::min<uint64_t>(milli, UINT32_MAX));
    const bool expired = now - rule->rateSince >= kShadowExtPacingRateWindowMs;
    if (rate >= rule->rateMilli || (expired && sent.changesWaited)) {
        rule->rateMilli = rate;
        rule->rateSince = now;
    }
}

// As many frames as the link carries in one unqueued round trip, and the
// headroom; before the first measure, the starting limit.
uint32_t limitNow(const ShadowExtPacingRule* rule) {
    const uint64_t base = baseOf(rule->base);
    if (rule->leastLimit >= rule->mostLimit || rule->rateMilli == 0 || base == UINT64_MAX)
        return rule->limit;
    // frames per 1000 s x ms x tenths: 1e7 parts make a frame.
    const uint64_t parts = uint64_t(rule->rateMilli) * base * kShadowExtPacingHeadroomTenths;
    const uint64_t frames = (parts + 9999999) / 10000000;
    return static_cast<uint32_t>(std::clamp<uint64_t>(frames, rule->leastLimit, rule->mostLimit));
}

void rememberSent(ShadowExtPacingRule* rule, uint32_t frameId, uint64_t now, bool nothingInFlight) {
    ShadowExtPacingSent* slot = &rule->sent[0];
    for (ShadowExtPacingSent& sent : rule->sent) {
        if (!sent.used) {
            slot = &sent;
            break;
        }
        if (sent.at < slot->at)
            slot = &sent; // all taken: the oldest makes room
    }
    *slot = {frameId,
             now,
             rule->delivered,
             nothingInFlight ? now : rule->deliveredAt,
             rule->heldSinceSent,
             nothingInFlight,
             true};
}

} // namespace

uint32_t shadow_ext_pacing_rule_inflight(const ShadowExtPacingRule* rule) {
    return rule && rule->started ? rule->lastSent - rule->lastAcked : 0;
}

uint64_t shadow_ext_pacing_rule_base_ms(const ShadowExtPacingRule* rule) {
    const uint64_t base = rule ? baseOf(rule->base) : UINT64_MAX;
    return base == UINT64_MAX ? 0 : base;
}

ShadowExtPacingVerdict shadow_ext_pacing_rule_offer(ShadowExtPacingRule* rule, uint64_t now) {
    if (!rule || !rule->acking || shadow_ext_pacing_rule_inflight(rule) < rule->limit) {
        if (rule)
            rule->holding = false;
        return SHADOW_EXT_PACING_SEND;
    }
    if (now >= rule->lastProgress && now - rule->lastProgress >= rule->patienceMs) {
        // Silent too long: frames flow unpaced until it acknowledges again.
        rule->acking = false;
        rule->holding = false;
        return SHADOW_EXT_PACING_SEND;
    }
    rule->holding = true;
    rule->heldSinceSent = true;
    return SHADOW_EXT_PACING_HOLD;
}

void shadow_ext_pacing_rule_sent(ShadowExtPacingRule* rule, uint32_t frameId, uint64_t now) {
    if (!rule)
        return;
    const bool fresh = !rule->started || !after(frameId, rule->lastSent);
    const bool nothingInFlight = fresh || shadow_ext_pacing_rule_inflight(rule) == 0;
    if (fresh) {
        // The first frame, or the library numbering afresh (a new encoder):
        // nothing earlier is waited for.
        rule->started = true;
        rule->lastAcked = frameId - 1;
        for (ShadowExtPacingSent& sent : rule->sent)
            sent.used = false;
    }
    rememberSent(rule, frameId, now, nothingInFlight);
    rule->lastSent = frameId;
    rule->lastProgress = now;
    rule->heldSinceSent = false;
}

bool shadow_ext_pacing_rule_acked(ShadowExtPacingRule* rule, uint32_t frameId, bool suspended,
                                  uint64_t now) {
    if (!rule || !rule->started)
        return false;
    const bool wasHolding = rule->holding;
    if (suspended) {
        rule->acking = false;
        rule->holding = false;
        return wasHolding;
    }
    if (after(frameId, rule->lastAcked) && !after(frameId, rule->lastSent)) {
        rule->delivered += frameId - rule->lastAcked;
        rule->lastAcked = frameId;
        ShadowExtPacingSent sent;
        if (sentRecordOf(rule, frameId, &sent) && now >= sent.at) {
            rule->lastRoundTrip = now - sent.at;
            if (sent.alone || rule->lastRoundTrip < baseOf(rule->base))
                noteRoundTrip(rule->base, rule->lastRoundTrip, now);
            noteRate(rule, sent, now);
            rule->limit = limitNow(rule);
        }
        rule->deliveredAt = now;
    }
    rule->acking = true;
    rule->lastProgress = now;
    if (!wasHolding || shadow_ext_pacing_rule_inflight(rule) >= rule->limit)
        return false;
    rule->holding = false;
    return true;
}
