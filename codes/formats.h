// Binary numbers as devices send them: whole numbers of 8, 16 and 32 bits,
// signed or unsigned, and 32-bit IEEE 754 floats, in the byte orders PLCs
// use, and layouts that put several of them and a checksum into one frame.
//
// A byte order names the value's bytes by letters, A the most significant,
// in the order they are sent: "AB" (16 bits) and "ABCD" (32 bits) are high
// byte first, as Modbus sends a register; "BA" and "DCBA" low byte first;
// "BADC" swaps the bytes of each 16-bit word; "CDAB" sends the low word
// first, high byte first in each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codes/checksums.h"

namespace wlcodes {

enum class NumberType { Unsigned, Signed, Float };

struct Format {
  NumberType type = NumberType::Unsigned;
  int size = 1;         // bytes: 1, 2 or 4
  std::string order;    // as sent, "A" to "ABCD" letters
};

// "U8", "S8", "U16", "S16", "U32", "S32" or "F32", then a byte order of
// that size ("U16BA", "F32CDAB"; none: high byte first), letters in any
// case. False for anything else.
bool ParseFormat(const std::string& word, Format& format);

// Whether a whole number is in the range of a format (never for floats).
bool FitsWhole(const Format& format, int64_t value);

// The bytes of a whole number the format holds (FitsWhole), or of a float.
std::string EncodeWhole(const Format& format, int64_t value);
std::string EncodeFloat(const Format& format, float value);

// The number whose bytes start at `bytes[at]` (at least format.size there).
int64_t DecodeWhole(const Format& format, const std::string& bytes, size_t at);
float DecodeFloat(const Format& format, const std::string& bytes, size_t at);

// One word of a layout: a number of a format, or a checksum of every byte
// before it.
struct LayoutItem {
  bool isChecksum = false;
  Format format;
  Checksum checksum = Checksum::Crc16Modbus;
};

// A layout: formats and checksum kinds separated by blanks ("U8 U8 U16
// U16 CRC16"). False when a word is neither, or the layout has no format.
bool ParseLayout(const std::string& text, std::vector<LayoutItem>& items);

// How many times each number item of a layout is used for `count` values
// or bytes: each once, the last number item as often as what remains
// needs. False when `count` does not fit: fewer than the items need, or a
// rest the last item's size does not divide.
struct LayoutUse {
  std::vector<size_t> repeats;  // per item; checksum items 1
};
bool FitNumbers(const std::vector<LayoutItem>& items, size_t numbers, LayoutUse& use);
bool FitBytes(const std::vector<LayoutItem>& items, size_t bytes, LayoutUse& use);

}  // namespace wlcodes
