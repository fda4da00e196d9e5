// MD4 (RFC 1320), exported with C linkage so that tools and the NT-hash path
// can call it under plain names.
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Writes the 16-byte MD4 digest of `length` bytes at `data` to `digest`.
__attribute__((visibility("default"))) void corvane_md4(const uint8_t* data, size_t length,
                                                        uint8_t digest[16]);
// The NT hash: the same digest over the password's UTF-16LE bytes, which the
// caller passes.
__attribute__((visibility("default"))) void corvane_nt_hash(const uint8_t* data, size_t length,
                                                            uint8_t digest[16]);

#ifdef __cplusplus
}
#endif
