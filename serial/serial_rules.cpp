#include "serial_rules.h"

namespace wl {

int32_t BaudFromTable(int32_t requested) {
  switch (requested) {
    case 1200: case 2400: case 4800: case 9600: case 19200:
    case 28800: case 38400: case 57600: case 115200:
      return requested;
    default:
      return 9600;
  }
}

bool PortInRange(int64_t port) { return port >= 1 && port <= kHighestPort; }

std::string PortDeviceName(int64_t port, const std::string& portField) {
  return (port <= 9 ? "COM" : "\\\\.\\COM") + portField;
}

void ApplyDataBits(Framing& framing, int32_t value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  framing.byteSize = static_cast<uint8_t>(bits);
  if (bits == 5) {
    if (framing.stopBits == 2) framing.stopBits = 1;
  } else if (bits > 5) {
    framing.stopBits = 0;
  }
  if (bits >= 8) {
    framing.parityEnabled = false;
    framing.parity = 0;
  }
}

uint32_t LineTimeoutPolls(int32_t field) {
  const uint32_t polls = static_cast<uint32_t>(field);
  return polls < 1 || polls > 1000 ? 100 : polls;
}

uint32_t LineQuietMilliseconds(uint32_t polls) { return (polls + 1) * kLinePollMilliseconds; }

namespace {

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

uint64_t TotalWait(uint32_t multiplier, uint32_t constant, uint32_t count) {
  if (multiplier == 0 && constant == 0) return kEndless;
  return static_cast<uint64_t>(multiplier) * count + constant;
}

}  // namespace

uint64_t LongestReadWait(uint32_t interval, uint32_t multiplier, uint32_t constant,
                         uint32_t count) {
  if (interval == kMaxDword) {
    if (multiplier == 0 && constant == 0) return 0;
    if (multiplier == kMaxDword && constant != 0 && constant != kMaxDword) return constant;
    if (constant == kMaxDword) return kEndless;
  }
  return TotalWait(multiplier, constant, count);
}

uint64_t LongestWriteWait(uint32_t multiplier, uint32_t constant, uint32_t count) {
  return TotalWait(multiplier, constant, count);
}

bool ReadWaitsTooLong(uint32_t interval, uint32_t multiplier, uint32_t constant, uint32_t count) {
  return LongestReadWait(interval, multiplier, constant, count) > kLongestPortWaitMilliseconds;
}

bool WriteWaitsTooLong(uint32_t multiplier, uint32_t constant, uint32_t count) {
  return LongestWriteWait(multiplier, constant, count) > kLongestPortWaitMilliseconds;
}

uint32_t ByteMicroseconds(uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
  if (baud == 0) return 0;
  // Stop bits in halves: one, one and a half, two.
  const uint32_t halves =
      2 * (1 + byteSize + (parity != 0 ? 1 : 0)) + (stopBits == 2 ? 4 : stopBits == 1 ? 3 : 2);
  return static_cast<uint32_t>((static_cast<uint64_t>(halves) * 500000 + baud - 1) / baud);
}

namespace {

// Milliseconds `length` bytes need on the line at `baud`, 12 bits each.
uint64_t LineTime(uint32_t length, uint32_t baud) {
  if (baud < 110) baud = 110;  // a rate the device would not run at: the slowest it may
  return (static_cast<uint64_t>(length) * 12 * 1000 + baud - 1) / baud;
}

}  // namespace

uint32_t LinePieceMilliseconds(uint32_t baud) {
  const uint64_t lineTime = LineTime(kLinePieceBytes, baud);
  return lineTime < kLineRateCheckMilliseconds ? kLineRateCheckMilliseconds
                                               : static_cast<uint32_t>(lineTime);
}

uint32_t WriteBoundMilliseconds(uint32_t length, uint32_t baud) {
  const uint64_t lineTime = LineTime(length, baud);
  const uint64_t bound = kWriteStartMilliseconds + (lineTime + 999) / 1000 * 1000;
  return bound >= 0xFFFFFFFEu ? 0xFFFFFFFEu : static_cast<uint32_t>(bound);
}

}  // namespace wl
