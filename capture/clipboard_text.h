// Text on the clipboard is UTF-8 from whichever program wrote it: decoding
// that never trusts it, and encoding back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane::capture {

// One code point from UTF-8 at s[i] (i < n); advances i. An invalid or
// truncated sequence, an overlong form or a surrogate gives U+FFFD and skips
// one byte.
uint32_t nextCodePoint(const uint8_t* s, size_t n, size_t& i);
void appendUtf8(std::string& out, uint32_t cp);
// Well-formed UTF-8 with every invalid sequence replaced by U+FFFD.
std::string sanitizedUtf8(const uint8_t* s, size_t n);

} // namespace corvane::capture
