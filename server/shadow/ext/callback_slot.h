// The library's callback slots that the extension layer puts itself into.
#pragma once
#include <atomic>

// Puts `ours` into a filled slot, keeping what was there in `next` for ours
// to call on; an empty slot, or one already ours, is left alone.
template <typename Fn> void shadow_ext_wrap_slot(Fn& slot, std::atomic<Fn>& next, Fn ours) {
    if (!slot || slot == ours)
        return;
    next.store(slot);
    slot = ours;
}
