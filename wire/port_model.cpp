#include "port_model.h"

namespace nbport {
namespace {

constexpr uint8_t kSpaceParity = 4;
constexpr uint8_t kOne5StopBits = 1;
constexpr uint8_t kTwoStopBits = 2;

}  // namespace

bool FramingRefused(uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
  return baud == 0 || byteSize < 5 || byteSize > 8 || parity > kSpaceParity ||
         stopBits > kTwoStopBits || (byteSize == 5 && stopBits == kTwoStopBits) ||
         (byteSize > 5 && stopBits == kOne5StopBits);
}

ReadWait ReadWaitOf(uint32_t interval, uint32_t multiplier, uint32_t constant, uint32_t count) {
  ReadWait wait;
  // MAXDWORD, 0, 0: at once with what is there.
  if (interval == kMaxDword && multiplier == 0 && constant == 0) {
    wait.atOnce = true;
    return wait;
  }
  // MAXDWORD, MAXDWORD, c (0 < c < MAXDWORD): what is there, or the first
  // bytes to come within c.
  if (interval == kMaxDword && multiplier == kMaxDword && constant != 0 && constant != kMaxDword) {
    wait.firstBytes = true;
    wait.totalMs = constant;
    return wait;
  }
  // MAXDWORD, x, MAXDWORD: the driver starts no timer at all and waits for
  // every byte (a constant of MAXDWORD is "no total time-out" there).
  if (interval == kMaxDword && constant == kMaxDword) return wait;
  wait.totalMs = static_cast<uint64_t>(multiplier) * count + constant;
  if (interval != kMaxDword) wait.intervalMs = interval;
  return wait;
}


}  // namespace nbport
