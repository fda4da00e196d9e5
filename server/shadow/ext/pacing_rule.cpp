#include "pacing_rule.h"

namespace {

// Frame ids wrap: `a` after `b` when it is less than half the range ahead.
bool after(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) > 0;
}

} // namespace

uint32_t shadow_ext_pacing_rule_inflight(const ShadowExtPacingRule* rule) {
    return rule && rule->started ? rule->lastSent - rule->lastAcked : 0;
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
    }
    rule->lastSent = frameId;
    rule->lastProgress = now;
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
    if (after(frameId, rule->lastAcked) && !after(frameId, rule->lastSent))
        rule->lastAcked = frameId;
    rule->acking = true;
    rule->lastProgress = now;
    if (!wasHolding || shadow_ext_pacing_rule_inflight(rule) >= rule->limit)
        return false;
    rule->holding = false;
    return true;
}
