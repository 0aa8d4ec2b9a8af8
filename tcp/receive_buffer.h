// The TCP connection's receive buffer and the rules that serve bytes and
// lines from it, with the end-of-data flag scripts read as wlTcpEof.
//
// The buffer is refilled by one receive of up to 65,536 bytes, and only when
// it is empty, so the unread bytes are always one run. Bytes and lines are
// served from that run without touching the source while any are left.
// Pure code: where the bytes come from is a ByteSource (the socket, or a
// scripted source in the tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/bounds.h"
#include "serial/error_table.h"

namespace wl {

constexpr size_t kReceiveBufferSize = 65536;

// Where the bytes come from, and the clock that bounds a line piece.
class ByteSource : public Clock {
 public:
  // Waits until bytes, or the peer's close, can be read: 0; kTimedOut when
  // the wait ran out; otherwise the error number of the failed wait. With
  // `poll` it only looks and never waits.
  virtual int waitReadable(bool poll) = 0;
  // Receives at most `capacity` bytes: the count, 0 when the peer closed,
  // or -1 with the error number in `errorNumber`.
  virtual int receive(char* buffer, size_t capacity, int& errorNumber) = 0;
  // A source without a clock never has a line cut short by time.
  uint32_t milliseconds() override { return 0; }
};

// How a line receive ended.
enum class LineEnd {
  Whole,  // its LF came, or the data ended (silence, the peer's close)
  Piece,  // handed over for a bound: the rest of the line follows
};

class ReceiveBuffer {
 public:
  ReceiveBuffer();  // may throw std::bad_alloc

  // Up to `count` bytes into `bytes` (replaced). Returns 0 or an error
  // number; after an error `bytes` is empty.
  int receive(ByteSource& source, size_t count, std::string& bytes, bool& endOfData);

  // One line without its CR and LF bytes, appended to `line`. A line of more
  // than kLinePieceBytes stored bytes, or still arriving
  // kTcpLinePieceMilliseconds after its first byte, comes in pieces; a byte
  // looked at to find the end and found not to be one stays unread. `stream`,
  // when given, is started with the first byte taken. After an error `line`
  // is as it was.
  int receiveLine(ByteSource& source, std::string& line, bool& endOfData, LineEnd& end,
                  Deadline* stream = nullptr);

  // Lines as receiveLine gives them, each whole one followed by CR LF,
  // appended to `out` until it holds at least `batch` bytes, the end flag is
  // set, or `stream` has expired, looked at after the first line of each
  // receive and before the next receive (the lines between are taken
  // without the clock). `out`
  // needs room for `batch` bytes and a piece beside what it holds. After an
  // error the failed line is left out.
  int receiveLines(ByteSource& source, std::string& out, size_t batch, bool& endOfData,
                   Deadline& stream);

  // Drops the unread bytes and everything the source holds at the moment.
  int discard(ByteSource& source, bool& endOfData);

  size_t unread() const { return count_; }

 private:
  // One receive into the empty buffer: its count, or -1 with `errorNumber`.
  int refill(ByteSource& source, int& errorNumber);
  void consume(size_t n);
  // The lines lying whole in the buffer with no CR before their ends, each
  // fitting one piece, appended with CR LF until `out` holds `batch` bytes:
  // a run of lines that end in CR LF is copied as it stands, at once.
  // False when the next line needs more than the buffer holds.
  bool takeWholeLines(std::string& out, size_t batch);

  std::unique_ptr<char[]> bytes_;
  size_t head_ = 0;   // first unread byte
  size_t count_ = 0;  // unread bytes from head_
  bool shortRead_ = false;  // the latest receive returned less than a full buffer
  bool refilled_ = false;   // a receive came since receiveLines last looked at its limit
};

}  // namespace wl
