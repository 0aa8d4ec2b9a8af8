#include "receive_buffer.h"

#include <algorithm>
#include <cstring>

namespace wl {
namespace {

// A flush takes what the socket holds, which is far less than this; a peer
// that keeps sending faster than it is discarded cannot hold the script.
constexpr int kMostDiscardedBuffers = 256;

// Appends `n` bytes to `line`, leaving out every CR.
void AppendWithoutCr(std::string& line, const char* from, size_t n) {
  const char* end = from + n;
  while (from < end) {
    const char* cr = static_cast<const char*>(std::memchr(from, '\r', end - from));
    const char* stop = cr ? cr : end;
    line.append(from, stop - from);
    from = cr ? cr + 1 : end;
  }
}

}  // namespace

ReceiveBuffer::ReceiveBuffer() : bytes_(new char[kReceiveBufferSize]) {}

int ReceiveBuffer::refill(ByteSource& source, int& errorNumber) {
  const int n = source.receive(bytes_.get(), kReceiveBufferSize, errorNumber);
  if (n < 0) return n;
  head_ = 0;
  count_ = static_cast<size_t>(n);
  if (count_ < kReceiveBufferSize) shortRead_ = true;
  return n;
}

void ReceiveBuffer::consume(size_t n) {
  head_ += n;
  count_ -= n;
  if (count_ == 0) head_ = 0;
}

int ReceiveBuffer::receive(ByteSource& source, size_t count, std::string& bytes, bool& endOfData) {
  bytes.clear();
  endOfData = false;
  shortRead_ = false;
  for (;;) {
    if (count_ > 0) {
      const size_t k = std::min(count_, count - bytes.size());
      bytes.append(bytes_.get() + head_, k);
      consume(k);
      if (count_ > 0) return 0;
      if (shortRead_) {
        endOfData = true;
        return 0;
      }
    }
    if (bytes.size() == count) return 0;
    const int wait = source.waitReadable(false);
    if (wait == kTimedOut && !bytes.empty()) {
      // Some bytes came, then the peer fell silent: that is the end of them.
      shortRead_ = true;
      endOfData = true;
      return 0;
    }
    int errorNumber = wait;
    if (wait != 0 || refill(source, errorNumber) < 0) {
      bytes.clear();
      return errorNumber;
    }
    if (count_ == 0) {  // the peer closed
      endOfData = true;
      return 0;
    }
  }
}

int ReceiveBuffer::receiveLine(ByteSource& source, std::string& line, bool& endOfData) {
  const size_t start = line.size();
  size_t consumed = 0;  // a line takes at most one buffer's worth of bytes
  const uint32_t began = source.milliseconds();
  endOfData = false;
  for (;;) {
    if (count_ > 0) {
      const char* from = bytes_.get() + head_;
      const size_t k = std::min(count_, kReceiveBufferSize - consumed);
      const char* lf = static_cast<const char*>(std::memchr(from, '\n', k));
      const size_t taken = lf ? static_cast<size_t>(lf - from) + 1 : k;
      AppendWithoutCr(line, from, lf ? taken - 1 : taken);
      consume(taken);
      consumed += taken;
      if (lf) {
        if (count_ == 0 && shortRead_) endOfData = true;
        return 0;
      }
    }
    if (consumed == kReceiveBufferSize) return 0;
    if (consumed > 0 && source.milliseconds() - began >= kLinePieceMilliseconds) return 0;
    const int wait = source.waitReadable(false);
    if (wait == kTimedOut && line.size() > start) {
      // A partial line, then silence: deliver it as the last of the data.
      shortRead_ = true;
      endOfData = true;
      return 0;
    }
    int errorNumber = wait;
    if (wait != 0 || refill(source, errorNumber) < 0) {
      line.resize(start);
      return errorNumber;
    }
    if (count_ == 0) {  // the peer closed: whatever the line holds is its end
      endOfData = true;
      return 0;
    }
  }
}

int ReceiveBuffer::discard(ByteSource& source, bool& endOfData) {
  endOfData = false;
  consume(count_);
  for (int pass = 0; pass < kMostDiscardedBuffers; ++pass) {
    const int wait = source.waitReadable(true);
    if (wait == kTimedOut) {  // nothing more is waiting
      endOfData = true;
      return 0;
    }
    int errorNumber = wait;
    if (wait != 0 || refill(source, errorNumber) < 0) return errorNumber;
    if (count_ == 0) {  // the peer closed
      endOfData = true;
      return 0;
    }
    consume(count_);
  }
  return 0;  // the peer is still sending: more is waiting, the flag stays clear
}

}  // namespace wl
