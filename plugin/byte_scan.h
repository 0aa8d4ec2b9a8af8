// Byte searches over whole texts and receive buffers. The C library's
// memchr may go byte by byte (Wine's does); these look at sixteen bytes at a
// time where the processor has SSE2, four otherwise. Pure code.
#pragma once

#include <cstddef>

namespace wl {

// The first `c` among the `n` bytes at `from`, or nullptr. Reads only
// those bytes.
const char* FindByte(const char* from, size_t n, char c);

// The first CR or LF among the `n` bytes at `from`, or nullptr.
const char* FindCrOrLf(const char* from, size_t n);

// The length of the NUL-terminated text at `text`, or `limit` when no NUL
// comes before it. Reads ahead of the NUL only within its aligned 16 bytes,
// which never crosses into another page.
size_t TextLength(const char* text, size_t limit);

}  // namespace wl
