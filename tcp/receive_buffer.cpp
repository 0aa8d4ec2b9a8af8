#include "receive_buffer.h"

#include <algorithm>
#include <cstring>

#include "plugin/byte_scan.h"

namespace wl {
namespace {

// Appends the `n` bytes at `from` to `line`, leaving out every CR, while
// `room` lasts; returns how many bytes it went through. A byte that found
// no room is not taken, and neither is anything after it.
size_t AppendWithoutCr(std::string& line, const char* from, size_t n, size_t& room) {
  const char* at = from;
  const char* end = from + n;
  while (at < end) {
    const char* cr = static_cast<const char*>(std::memchr(at, '\r', end - at));
    const char* stop = cr ? cr : end;
    const size_t take = std::min(static_cast<size_t>(stop - at), room);
    line.append(at, take);
    room -= take;
    at += take;
    if (at < stop) break;  // the piece is full
    if (cr) ++at;          // the CR is dropped
  }
  return static_cast<size_t>(at - from);
}

// The line at `from` when it lies whole in the `n` bytes, ended by LF or
// CR LF with no other CR, and stores at most `room` bytes: its length in
// `body` and the bytes through its end in `through`.
bool WholeLine(const char* from, size_t n, size_t room, size_t& body, size_t& through) {
  const char* end = FindCrOrLf(from, n);
  if (end == nullptr) return false;
  body = static_cast<size_t>(end - from);
  if (*end == '\n') {
    through = body + 1;
  } else if (body + 1 < n && end[1] == '\n') {
    through = body + 2;
  } else {
    return false;  // a CR inside the line, or one the buffer ends with
  }
  return body <= room;
}

}  // namespace

ReceiveBuffer::ReceiveBuffer() : bytes_(new char[kReceiveBufferSize]) {}

int ReceiveBuffer::refill(ByteSource& source, int& errorNumber) {
  const int n = source.receive(bytes_.get(), kReceiveBufferSize, errorNumber);
  if (n < 0) return n;
  head_ = 0;
  count_ = static_cast<size_t>(n);
  refilled_ = true;
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

int ReceiveBuffer::receiveLine(ByteSource& source, std::string& line, bool& endOfData,
                               LineEnd& end, Deadline* stream) {
  const size_t start = line.size();
  size_t room = kLinePieceBytes;  // stored bytes the piece may still take
  Deadline piece(source, kTcpLinePieceMilliseconds);
  endOfData = false;
  end = LineEnd::Whole;
  for (;;) {
    if (count_ > 0) {
      if (stream) stream->start();
      const char* from = bytes_.get() + head_;
      size_t body = 0, taken = 0;
      if (WholeLine(from, count_, room, body, taken)) {
        line.append(from, body);
        consume(taken);
        if (count_ == 0 && shortRead_) endOfData = true;
        return 0;
      }
      const char* lf = static_cast<const char*>(std::memchr(from, '\n', count_));
      const size_t span = lf ? static_cast<size_t>(lf - from) : count_;
      if (lf == nullptr) {
        // The line goes on past the buffer: its piece's time starts with
        // its first byte (a line taken whole from the buffer never asks),
        // and its bytes are about to be consumed before it is complete, so
        // the room for the whole piece is taken now, while a failure to get
        // it still loses nothing.
        piece.start();
        line.reserve(start + kLinePieceBytes);
      }
      const size_t through = AppendWithoutCr(line, from, span, room);
      if (through < span) {  // a byte that is not the end found the piece full
        consume(through);
        end = LineEnd::Piece;
        return 0;
      }
      if (lf) {
        consume(span + 1);
        if (count_ == 0 && shortRead_) endOfData = true;
        return 0;
      }
      consume(span);
    }
    // Read once per wait: a line taken from the buffer never asks.
    if (piece.expired()) {
      end = LineEnd::Piece;
      return 0;
    }
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

bool ReceiveBuffer::takeWholeLines(std::string& out, size_t batch) {
  const char* from = bytes_.get() + head_;
  size_t at = 0;    // bytes gone through
  size_t run = 0;   // where the lines not yet copied start
  size_t size = out.size();  // with them
  while (at < count_ && size < batch) {
    size_t body = 0, through = 0;
    if (!WholeLine(from + at, count_ - at, kLinePieceBytes, body, through)) break;
    if (through == body + 2) {
      size += through;  // ends in CR LF as written: copied with its run
    } else {
      out.append(from + run, at - run);
      out.append(from + at, body);
      out.append("\r\n", 2);
      run = at + through;
      size = out.size();
    }
    at += through;
  }
  out.append(from + run, at - run);
  consume(at);
  return at > 0;
}

int ReceiveBuffer::receiveLines(ByteSource& source, std::string& out, size_t batch,
                                bool& endOfData, Deadline& stream) {
  endOfData = false;
  refilled_ = false;
  while (out.size() < batch) {
    if (count_ > 0 && takeWholeLines(out, batch)) {
      stream.start();
      if (count_ == 0 && shortRead_) {
        endOfData = true;
        return 0;
      }
    } else {
      LineEnd end = LineEnd::Whole;
      if (const int error = receiveLine(source, out, endOfData, end, &stream)) return error;
      if (end == LineEnd::Whole) out.append("\r\n", 2);
      if (endOfData) return 0;
    }
    // Time passes in the waits: the limit is looked at after the first line
    // a receive brought and before the next receive, never more than once a
    // line.
    if (refilled_ || count_ == 0) {
      refilled_ = false;
      if (stream.expired()) return 0;
    }
  }
  return 0;
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
