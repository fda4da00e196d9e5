// One direction of a network link as the bench shapes it: a bottleneck that
// sends `bitsPerSecond` one piece after another, then a fixed one-way delay.
// Pure: time comes in as `nowUs`.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>

struct LinkModel {
    uint64_t bitsPerSecond = 0; // 0: no bandwidth limit
    uint64_t delayUs = 0;
    uint64_t freeAtUs = 0; // when the bottleneck has sent what it holds

    // A piece of `bytes` reached the link at `nowUs`: when it arrives at the
    // other end.
    uint64_t arrival(uint64_t nowUs, size_t bytes) {
        const uint64_t start = std::max(nowUs, freeAtUs);
        const uint64_t sending =
            bitsPerSecond ? (uint64_t{bytes} * 8u * 1'000'000u + bitsPerSecond - 1) / bitsPerSecond
                          : 0;
        freeAtUs = start + sending;
        return freeAtUs + delayUs;
    }
};

// "20mbit", "512kbit", "5000000" (bits per second); 0 on a malformed text.
uint64_t parseRate(const char* text);
// "20ms", "1s", "500us"; false on a malformed text.
bool parseDuration(const char* text, uint64_t* us);
