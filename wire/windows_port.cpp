#include "windows_port.h"

#include <algorithm>

namespace nbport {
namespace {

// `from` plus `ms`, kNever when that does not fit.
Millis After(Millis from, uint64_t ms) { return ms > kNever - from ? kNever : from + ms; }

}  // namespace

uint32_t TimeoutsError(const Timeouts& t) {
  // SetCommTimeouts: all three read values MAXDWORD is refused (the driver
  // answers STATUS_INVALID_PARAMETER).
  const bool allMax =
      t.readInterval == kMaxDword && t.readMultiplier == kMaxDword && t.readConstant == kMaxDword;
  return allMax ? kInvalidParameter : 0;
}

uint32_t ModemStatusOf(const ModemLines& lines) {
  return (lines.cts ? kCtsOn : 0) | (lines.dsr ? kDsrOn : 0) | (lines.ring ? kRingOn : 0) |
         (lines.dcd ? kRlsdOn : 0);
}

void WindowsPort::setControl(const Line& line) {
  hostLines_.dtr = line.dtrControl != kControlDisable;
  hostLines_.rts = line.rtsControl == kControlEnable || line.rtsControl == kControlHandshake;
}

uint32_t WindowsPort::escape(const Line& line, uint32_t function) {
  const bool dtr = function == kSetDtr || function == kClrDtr;
  const bool rts = function == kSetRts || function == kClrRts;
  if ((dtr && line.dtrControl == kControlHandshake) || (rts && line.rtsControl == kControlHandshake)) {
    return kInvalidParameter;
  }
  if (dtr) hostLines_.dtr = function == kSetDtr;
  if (rts) hostLines_.rts = function == kSetRts;
  return 0;
}

uint32_t WindowsPort::open() {
  if (!present_) return kFileNotFound;
  if (open_) return kAccessDenied;  // not shared; a stale handle keeps it too
  open_ = true;
  stale_ = false;
  return 0;
}

void WindowsPort::close() {
  open_ = false;
  stale_ = false;
}

void WindowsPort::unplug(uint32_t error) {
  present_ = false;
  removalError_ = error;
  stale_ = open_;
  lineFreeUs_ = 0;
}

uint32_t WindowsPort::transferError(const Line& line, uint32_t lineErrors) const {
  if (stale_) return removalError_;
  // ClearCommError: with fAbortOnError the driver terminates every read and
  // write after a line error and accepts none until the error is cleared.
  return line.abortOnError && lineErrors != 0 ? kOperationAborted : 0;
}

bool WindowsPort::held(const Line& line, const ModemLines& modem) {
  return (line.ctsFlow && !modem.cts) || (line.dsrFlow && !modem.dsr);
}

ReadResult WindowsPort::read(PortClock& clock, PortEnd& end, const Timeouts& t, uint32_t count) {
  ReadResult result;
  const ReadWait wait = ReadWaitOf(t.readInterval, t.readMultiplier, t.readConstant, count);
  const Millis deadline = wait.totalMs == 0 ? kNever : After(clock.now(), wait.totalMs);
  Millis lastByte = kNever;  // the interval counts between bytes, from the first
  for (;;) {
    end.update(clock.now());
    // A device removed during the wait fails the read; what it took is lost.
    if ((result.error = handleError()) != 0) {
      result.bytes.clear();
      return result;
    }
    const size_t take = std::min<size_t>(count - result.bytes.size(), end.waiting());
    if (take > 0) {
      result.bytes += end.take(take);
      lastByte = clock.now();
    }
    if (result.bytes.size() == count || wait.atOnce || (wait.firstBytes && !result.bytes.empty())) {
      return result;
    }
    Millis until = deadline;
    if (wait.intervalMs != 0 && lastByte != kNever) until = std::min(until, lastByte + wait.intervalMs);
    const Millis now = clock.now();
    if (now >= until) return result;
    const Millis next = std::min(until, std::max(end.nextChange(), now + 1));
    if (!clock.waitUntil(next)) {
      result.forever = true;
      return result;
    }
  }
}

WriteResult WindowsPort::write(PortClock& clock, PortEnd& end, const Line& line, const Timeouts& t,
                               uint32_t count) {
  WriteResult result;
  const uint64_t byteUs = ByteMicroseconds(line.baud, line.byteSize, line.parity, line.stopBits);
  // COMMTIMEOUTS: a multiplier and a constant of 0 mean no total time-out.
  const uint64_t total = static_cast<uint64_t>(t.writeMultiplier) * count + t.writeConstant;
  const Millis deadline = total == 0 ? kNever : After(clock.now(), total);
  uint64_t room = end.room();
  while (result.written < count) {
    const Millis now = clock.now();
    end.update(now);
    if ((result.error = handleError()) != 0) return result;
    if (held(line, end.modem()) || room == 0) {
      if (now >= deadline) return result;
      if (!clock.waitUntil(std::min(deadline, std::max(end.nextChange(), now + 1)))) {
        result.forever = true;
        return result;
      }
      continue;
    }
    // The bytes go out one after another from when the line is free.
    const uint64_t startUs = std::max(now * 1000, lineFreeUs_);
    uint64_t n = std::min<uint64_t>(count - result.written, room);
    if (deadline != kNever && byteUs != 0) {
      const uint64_t endUs = deadline > kNever / 1000 ? kNever : deadline * 1000;
      n = std::min<uint64_t>(n, endUs > startUs ? (endUs - startUs) / byteUs : 0);
    }
    result.written += static_cast<uint32_t>(n);
    lineFreeUs_ = startUs + n * byteUs;
    const bool cut = n < room;
    room -= n;
    if (result.written < count && cut) {
      // The total time-out ends the write with what went out; WriteFile
      // succeeds with fewer bytes written (a timed-out write completes).
      clock.waitUntil(deadline);
      return result;
    }
  }
  // A write returns once its bytes have been on the line.
  clock.waitUntil(lineFreeUs_ / 1000);
  return result;
}

}  // namespace nbport
