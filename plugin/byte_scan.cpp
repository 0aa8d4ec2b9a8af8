#include "byte_scan.h"

#include <cstdint>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#define WL_SSE2 1
#endif

namespace wl {
namespace {

constexpr uint32_t kOnes = 0x01010101u;
constexpr uint32_t kHighs = 0x80808080u;

// Whether any byte of `word` is zero.
bool HasZeroByte(uint32_t word) { return ((word - kOnes) & ~word & kHighs) != 0; }

// Four bytes at a time: a word holds `a` or `b` when, XORed with either
// repeated, it has a zero byte; that word's bytes are then looked at one by
// one.
const char* FindByWords(const char* at, const char* end, char a, char b) {
  const uint32_t repeatedA = kOnes * static_cast<uint8_t>(a);
  const uint32_t repeatedB = kOnes * static_cast<uint8_t>(b);
  for (; end - at >= 4; at += 4) {
    uint32_t word;
    std::memcpy(&word, at, sizeof word);
    if (HasZeroByte(word ^ repeatedA) || HasZeroByte(word ^ repeatedB)) break;
  }
  for (; at < end; ++at) {
    if (*at == a || *at == b) return at;
  }
  return nullptr;
}

#ifdef WL_SSE2
bool HaveSse2() {
  static const bool sse2 = (__builtin_cpu_init(), __builtin_cpu_supports("sse2"));
  return sse2;
}

// Sixteen bytes at a time while they lie within [at, end); the bit mask of
// the bytes equal to `a` or `b` in the first block that has one.
__attribute__((target("sse2"))) const char* FindBySse2(const char* at, const char* end, char a,
                                                       char b) {
  const __m128i first = _mm_set1_epi8(a);
  const __m128i second = _mm_set1_epi8(b);
  for (; end - at >= 16; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const int hits = _mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, first), _mm_cmpeq_epi8(bytes, second)));
    if (hits != 0) return at + __builtin_ctz(static_cast<unsigned>(hits));
  }
  return at;  // no hit in the whole blocks: the caller looks at the rest
}

// The first NUL from `i`, a multiple of 16 bytes from `text`, in aligned
// blocks while a whole one lies within `limit`; else where they ended.
__attribute__((target("sse2"))) size_t TextLengthBySse2(const char* text, size_t i,
                                                         size_t limit) {
  const __m128i zero = _mm_setzero_si128();
  for (; limit - i >= 16; i += 16) {
    const __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(text + i));
    const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero));
    if (hits != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
  }
  return i;
}
#endif

// The first byte equal to `a` or `b` in [from, from + n), or nullptr.
const char* FindEither(const char* from, size_t n, char a, char b) {
  const char* end = from + n;
  const char* at = from;
#ifdef WL_SSE2
  // A text shorter than a block (most parameter texts) has none to search.
  if (n >= 16 && HaveSse2()) {
    at = FindBySse2(from, end, a, b);
    if (end - at >= 16) return at;  // stopped at a hit
  }
#endif
  return FindByWords(at, end, a, b);
}

}  // namespace

const char* FindByte(const char* from, size_t n, char c) { return FindEither(from, n, c, c); }

const char* FindCrOrLf(const char* from, size_t n) { return FindEither(from, n, '\r', '\n'); }

size_t TextLength(const char* text, size_t limit) {
  size_t i = 0;
#ifdef WL_SSE2
  if (HaveSse2()) {
    // Byte by byte up to a 16-byte boundary, then aligned blocks.
    for (; i < limit && (reinterpret_cast<uintptr_t>(text + i) & 15) != 0; ++i) {
      if (text[i] == '\0') return i;
    }
    i = TextLengthBySse2(text, i, limit);
    if (i < limit && text[i] == '\0') return i;
  }
#endif
  while (i < limit && text[i] != '\0') ++i;
  return i;
}

}  // namespace wl
