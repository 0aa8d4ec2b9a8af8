// The checksums of the protocols scripts and devices meet: NMEA 0183, the
// CRC-16 of Modbus RTU, the CRC-16/CCITT of XMODEM and its 0xFFFF variant,
// the LRC of Modbus ASCII, and the 8-bit sum and XOR. Byte strings are
// std::string, one char a byte, any value including 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wlcodes {

enum class Checksum {
  Nmea,         // XOR of the bytes between "$" (or "!") and "*"
  Crc16Modbus,  // reflected 0x8005 (0xA001), from 0xFFFF; sent low byte first
  Crc16Xmodem,  // 0x1021 from 0; sent high byte first
  Crc16Ccitt,   // 0x1021 from 0xFFFF (CCITT-FALSE); sent high byte first
  Lrc,          // the two's complement of the 8-bit sum (Modbus ASCII)
  Sum8,
  Xor8,
};

// The kind a name gives ("NMEA", "CRC16", "XMODEM", "CCITT", "LRC", "SUM8",
// "XOR8", letters in any case, blanks around ignored); false for none.
bool ChecksumNamed(const std::string& name, Checksum& kind);

uint16_t Crc16Modbus(const std::string& bytes);
uint16_t Crc16Xmodem(const std::string& bytes);
uint16_t Crc16Ccitt(const std::string& bytes);
uint8_t Lrc(const std::string& bytes);
uint8_t Sum8(const std::string& bytes);
uint8_t Xor8(const std::string& bytes);
// The XOR of the bytes after a leading "$" or "!" up to the first "*" (or
// the end): what a sentence's "*hh" carries.
uint8_t NmeaChecksum(const std::string& sentence);

// How many bytes the checksum takes in a frame: 2 for the CRCs, else 1.
size_t ChecksumSize(Checksum kind);

// The checksum of `bytes` as a frame carries it: Modbus's CRC low byte
// first, XMODEM's and CCITT's high byte first, the others one byte.
std::string ChecksumBytes(Checksum kind, const std::string& bytes);

// Whether `frame` ends with the checksum of the bytes before it (an NMEA
// frame: its "*" byte is part of what comes before, as the XOR skips it).
// False for a frame too short to hold one.
bool FrameChecks(Checksum kind, const std::string& frame);

// An NMEA sentence as received: "$...*hh", hh in hexadecimal (either case),
// a CR and LF after it allowed. False when it starts with neither "$" nor
// "!", has no "*hh" at its end, or hh is not its checksum.
bool SentenceChecks(const std::string& sentence);

// A Modbus ASCII frame as received, ":" then pairs of hexadecimal digits,
// the last pair the LRC of the others, a CR and LF after it allowed: the
// frame's bytes (LRC included) into `bytes`; false when it is not of that
// form.
bool AsciiFrameBytes(const std::string& frame, std::string& bytes);

// Two hexadecimal digits, upper case, as NMEA and Modbus ASCII write a byte.
std::string HexByte(uint8_t byte);

// The value of one hexadecimal digit (either case), or -1.
int HexDigit(char c);

}  // namespace wlcodes
