// MD4 per RFC 1320. The NT hash of NTLM is MD4 and nothing else; a general
// crypto library may refuse MD4 (OpenSSL 3 moved it to the legacy provider),
// so the login store carries its own.
#include "app/core/md4.h"

#include <cstring>

namespace {

struct Md4State {
    uint32_t a = 0x67452301, b = 0xefcdab89, c = 0x98badcfe, d = 0x10325476;
};

constexpr uint32_t rotateLeft(uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}
constexpr uint32_t f(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) | (~x & z);
}
constexpr uint32_t g(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) | (x & z) | (y & z);
}
constexpr uint32_t h(uint32_t x, uint32_t y, uint32_t z) {
    return x ^ y ^ z;
}

uint32_t loadLittleEndian(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void storeLittleEndian(uint32_t value, uint8_t* p) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

void processBlock(Md4State& state, const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = loadLittleEndian(block + 4 * i);
    uint32_t r[4] = {state.a, state.b, state.c, state.d};
    // Each step updates one of a, d, c, b in turn: index (4 - i) % 4.
    static constexpr int shifts1[4] = {3, 7, 11, 19};
    for (int i = 0; i < 16; ++i) {
        uint32_t& t = r[(4 - i % 4) % 4];
        uint32_t u = r[(5 - i % 4) % 4], v = r[(6 - i % 4) % 4], w = r[(7 - i % 4) % 4];
        t = rotateLeft(t + f(u, v, w) + x[i], shifts1[i % 4]);
    }
    static constexpr int order2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    static constexpr int shifts2[4] = {3, 5, 9, 13};
    for (int i = 0; i < 16; ++i) {
        uint32_t& t = r[(4 - i % 4) % 4];
        uint32_t u = r[(5 - i % 4) % 4], v = r[(6 - i % 4) % 4], w = r[(7 - i % 4) % 4];
        t = rotateLeft(t + g(u, v, w) + x[order2[i]] + 0x5a827999u, shifts2[i % 4]);
    }
    static constexpr int order3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    static constexpr int shifts3[4] = {3, 9, 11, 15};
    for (int i = 0; i < 16; ++i) {
        uint32_t& t = r[(4 - i % 4) % 4];
        uint32_t u = r[(5 - i % 4) % 4], v = r[(6 - i % 4) % 4], w = r[(7 - i % 4) % 4];
        t = rotateLeft(t + h(u, v, w) + x[order3[i]] + 0x6ed9eba1u, shifts3[i % 4]);
    }
    state.a += r[0];
    state.b += r[1];
    state.c += r[2];
    state.d += r[3];
}

} // namespace

extern "C" void corvane_md4(const uint8_t* data, size_t length, uint8_t digest[16]) {
    Md4State state;
    size_t whole = length - length % 64;
    for (size_t offset = 0; offset < whole; offset += 64)
        processBlock(state, data + offset);

    // Padding: 0x80, zeros to 56 mod 64, then the bit length little-endian.
    uint8_t tail[128] = {};
    size_t rest = length - whole;
    if (rest)
        std::memcpy(tail, data + whole, rest);
    tail[rest] = 0x80;
    size_t tailLength = rest < 56 ? 64 : 128;
    uint64_t bits = static_cast<uint64_t>(length) * 8;
    for (int i = 0; i < 8; ++i)
        tail[tailLength - 8 + i] = static_cast<uint8_t>(bits >> (8 * i));
    for (size_t offset = 0; offset < tailLength; offset += 64)
        processBlock(state, tail + offset);

    storeLittleEndian(state.a, digest);
    storeLittleEndian(state.b, digest + 4);
    storeLittleEndian(state.c, digest + 8);
    storeLittleEndian(state.d, digest + 12);
}

extern "C" void corvane_nt_hash(const uint8_t* data, size_t length, uint8_t digest[16]) {
    corvane_md4(data, length, digest);
}
