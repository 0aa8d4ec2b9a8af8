// Wirecodes' actions as pure functions: each takes the parameter text and
// gives the result variable's name, its value and the number for [wcErr]
// (codes_errors.h). Nothing here reaches the host; edition.cpp publishes
// what they give. No state lives between calls.
//
// Byte codes are fields as wlCommSendASCII reads them (65, &H41, &O101,
// &B1000001), each 0 to 255; codes are written back as &Hxx, comma
// separated, so a result pastes into wlCommSendASCII. A text that may hold
// commas and quotes comes after the first "|", exactly as it stands, as
// wlCommSendSpecial takes its text: "var,kind|text".
#pragma once

#include <string>

namespace wl {
namespace wirecodes {

struct Outcome {
  std::string variable;  // empty when the parameter text names none
  int error = 0;
  std::string value;     // what the variable gets when error is 0
};

// "var,kind,codes...": the checksum of the codes, as codes.
Outcome Checksum(const std::string& parameters);
// "var,kind|text": the checksum of a text; NMEA and LRC as the two hex
// digits their frames carry (LRC of a Modbus ASCII frame's hex pairs).
Outcome ChecksumText(const std::string& parameters);
// "var,kind,codes...": "1" when the last codes are the checksum of the
// ones before, else "0".
Outcome Check(const std::string& parameters);
// "var,kind|text": "1" when a sentence's or frame's checksum is right:
// NMEA "$...*hh", LRC ":...hh" (Modbus ASCII), the others the text's last
// bytes.
Outcome CheckText(const std::string& parameters);
// "var|text": the codes of the text's bytes.
Outcome TextToCodes(const std::string& parameters);
// "var,codes...": the text of codes 1 to 255.
Outcome CodesToText(const std::string& parameters);
// "var,hex": pairs of hexadecimal digits (blanks between them ignored) as
// codes.
Outcome HexToCodes(const std::string& parameters);
// "var,codes...": the codes as pairs of hexadecimal digits, upper case.
Outcome CodesToHex(const std::string& parameters);
// "var|character": the code of one character, in decimal; an empty text
// (a 0 byte as wlCommRxByte leaves it) is 0.
Outcome Code(const std::string& parameters);
// "var,layout,numbers...": numbers to codes by a layout such as "U8 U8 U16
// U16 CRC16" (codes/formats.h).
Outcome NumbersToCodes(const std::string& parameters);
// "var,layout,decimals,codes...": codes to numbers, comma separated, floats
// with that many decimals; a checksum item checks the codes before it.
Outcome CodesToNumbers(const std::string& parameters);
// "var,operation,a,b": AND, OR, XOR, NOT (b the width in bits), SHL, SHR,
// BIT (bit b of a, 0 the lowest) on whole numbers of up to 32 bits.
Outcome Bits(const std::string& parameters);

}  // namespace wirecodes
}  // namespace wl
