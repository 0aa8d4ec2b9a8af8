// The numbers Wirecodes' actions leave in [wcErr] (written " 0", " 3"),
// one meaning each. On any number but 0 the action's result variable is
// set empty.
#pragma once

namespace wl {
namespace wirecodes {

enum CodesError : int {
  kDone = 0,
  // The parameter text has fewer or more fields than the action takes, or
  // no "|" where the action takes a text after one.
  kFieldCount = 1,
  // The result variable's name is empty.
  kNoVariable = 2,
  // A byte code is no number or lies outside 0 to 255.
  kBadCode = 3,
  // A checksum kind, a layout, a format or an operation that Wirecodes
  // does not know.
  kUnknownKind = 4,
  // A number outside what its format or field holds: a value beyond its
  // format's range, decimals outside 0 to 15, a bit or shift outside 0 to
  // 31, a width outside 1 to 32.
  kOutOfRange = 5,
  // A number field holds no number.
  kNotANumber = 6,
  // The numbers or codes do not fill the layout: too few, or a rest the
  // last format does not divide.
  kDoesNotFit = 7,
  // A 0 code: a text ends at a 0 byte, so it cannot hold one.
  kZeroInText = 8,
  // Not pairs of hexadecimal digits (an odd count, or another character).
  kNotHex = 9,
  // wcCode was given more than one character.
  kNotOneCharacter = 10,
  // Codes read as a float are no number (NaN) or infinite.
  kNotFinite = 11,
  // A checksum item of a layout does not match the codes before it.
  kWrongChecksum = 12,
  // The result would not fit in memory.
  kNoMemory = 13,
};

}  // namespace wirecodes
}  // namespace wl
