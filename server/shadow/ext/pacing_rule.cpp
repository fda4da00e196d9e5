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

void noteRoundTrip(ShadowExtPacingBase& base, uint64_t took, uint64_t now) {
    const uint64_t half = kShadowExtPacingBaseWindowMs / 2;
    if (baseOf(base) == UINT64_MAX) {
        base.currentSince = now;
    } else if (now - base.currentSince >= half) {
        // A silence longer than the window leaves nothing worth keeping.
        base.olderLeast = now - base.currentSince >= 2 * half ? UINT64_MAX : base.currentLeast;
        base.currentLeast = UINT64_MAX;
        base.currentSince = now;
    }
    base.currentLeast = std::min(base.currentLeast, took);
}

// How long the acknowledged frame took from going out to coming back; the
// frames up to it are forgotten. Nothing for a frame not remembered.
bool roundTripOf(ShadowExtPacingRule* rule, uint32_t frameId, uint64_t now, uint64_t* took) {
    bool found = false;
    for (ShadowExtPacingSent& sent : rule->sent) {
        if (!sent.used || after(sent.frameId, frameId))
            continue;
        if (sent.frameId == frameId && now >= sent.at) {
            *took = now - sent.at;
            found = true;
        }
        sent.used = false;
    }
    return found;
}

void moveLimit(ShadowExtPacingRule* rule, uint32_t limit, uint64_t now) {
    const bool up = limit > rule->limit;
    // Two climbs in a row: the link had room. A fall right after a climb:
    // that probe was one frame too many, and the next waits longer.
    if (up && rule->lastMoveUp)
        rule->probeBackoff = 0;
    else if (!up && rule->lastMoveUp)
        rule->probeBackoff = std::min(rule->probeBackoff + 1, kShadowExtPacingMostBackoff);
    rule->lastMoveUp = up;
    rule->limit = limit;
    rule->lastAdjust = now;
    rule->heldSinceAdjust = false;
    rule->onTimeAcks = 0;
}

// One less frame in flight when a frame queued, at most once a round trip
// (the frames already out queued behind the same backlog); one more after a
// round trip of frames on time while the limit held changes back (after
// failed climbs, several round trips).
void followRoundTrip(ShadowExtPacingRule* rule, uint64_t took, uint64_t now) {
    const uint64_t base = baseOf(rule->base);
    const uint64_t queued = took - std::min(took, base);
    const uint64_t allowed = std::max(base / 2, kShadowExtPacingLeastQueueMs);
    const bool roundTripSinceMove = now - rule->lastAdjust >= took;
    if (queued > allowed) {
        rule->onTimeAcks = 0;
        if (roundTripSinceMove && rule->limit > rule->leastLimit)
            moveLimit(rule, rule->limit - 1, now);
        return;
    }
    rule->onTimeAcks = queued > allowed / 2 ? 0 : rule->onTimeAcks + 1;
    const uint32_t onTimeNeeded = rule->limit << rule->probeBackoff;
    if (rule->heldSinceAdjust && rule->onTimeAcks >= onTimeNeeded && roundTripSinceMove &&
        rule->limit < rule->mostLimit)
        moveLimit(rule, rule->limit + 1, now);
}

void rememberSent(ShadowExtPacingRule* rule, uint32_t frameId, uint64_t now) {
    ShadowExtPacingSent* slot = &rule->sent[0];
    for (ShadowExtPacingSent& sent : rule->sent) {
        if (!sent.used) {
            slot = &sent;
            break;
        }
        if (sent.at < slot->at)
            slot = &sent; // all taken: the oldest makes room
    }
    *slot = {frameId, now, true};
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
    rule->heldSinceAdjust = true;
    return SHADOW_EXT_PACING_HOLD;
}

void shadow_ext_pacing_rule_sent(ShadowExtPacingRule* rule, uint32_t frameId, uint64_t now) {
    if (!rule)
        return;
    if (!rule->started || !after(frameId, rule->lastSent)) {
        // The first frame, or the library numbering afresh (a new encoder):
        // nothing earlier is waited for.
        rule->started = true;
        rule->lastAcked = frameId - 1;
        for (ShadowExtPacingSent& sent : rule->sent)
            sent.used = false;
    }
    rule->lastSent = frameId;
    rule->lastProgress = now;
    rememberSent(rule, frameId, now);
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
    uint64_t took = 0;
    if (after(frameId, rule->lastAcked) && !after(frameId, rule->lastSent)) {
        rule->lastAcked = frameId;
        if (roundTripOf(rule, frameId, now, &took)) {
            noteRoundTrip(rule->base, took, now);
            followRoundTrip(rule, took, now);
        }
    }
    rule->acking = true;
    rule->lastProgress = now;
    rule->lastRoundTrip = took;
    if (!wasHolding || shadow_ext_pacing_rule_inflight(rule) >= rule->limit)
        return false;
    rule->holding = false;
    return true;
}
