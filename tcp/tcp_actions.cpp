// The nine TCP actions: thin handlers over the socket layer. Each publishes
// its error number in wlTcpErr; the receiving ones then publish the end flag
// in wlTcpEof. Only wlTCPopen splits its parameter; the others take it whole.
#include "tcp_actions.h"

#include <new>

#include "plugin/bridge.h"
#include "plugin/params.h"
#include "plugin/spare.h"
#include "receive_buffer.h"
#include "serial/channel_table.h"
#include "serial/disk_file.h"
#include "serial/system_api.h"
#include "socket_layer.h"

namespace wl {
namespace {

// wlTCPrxF writes its lines in batches of about this size: one write per
// batch instead of one per line.
constexpr size_t kFileBatch = 64 * 1024;

const char kLineEnd[] = "\r\n";

void PublishError(int errorNumber) { SetHostNumber("wlTcpErr", errorNumber); }

void PublishReceive(int errorNumber, bool atEnd) {
  PublishError(errorNumber);
  SetHostNumber("wlTcpEof", atEnd ? -1 : 0);
}

void PublishReceive(int errorNumber) { PublishReceive(errorNumber, tcpAtEnd()); }

void WriteBatch(std::string& batch, int& errorNumber) {
  if (!batch.empty()) diskFileWrite(kTcpFileChannel, batch.data(), batch.size(), errorNumber);
  batch.clear();
}

// Receives lines into the open file until the end flag is set or a line
// receive fails; the failed receive writes nothing and its number is the
// result (0 when none failed). Each whole line is written with CR LF; a
// piece handed over for a bound is written as it came, and the next receive
// goes on with the rest of its line. A peer that keeps the connection full
// never gives the flag: the stream limit after the first byte ends the
// action with the flag clear, and what is left stays in the connection.
int ReceiveLinesInto(std::string& batch, int& errorNumber) {
  Deadline stream(SystemClock(), kStreamLimitMilliseconds);
  do {
    if (const int receiveError = tcpReceiveLines(batch, kFileBatch, stream)) return receiveError;
    if (batch.size() >= kFileBatch) WriteBatch(batch, errorNumber);
  } while (!tcpAtEnd() && !stream.expired());
  return 0;
}

}  // namespace

void wlTCPopen(const std::string& parameters) {
  if (CountFields(parameters) != 3) return;
  const std::vector<std::string> fields = SplitFields(parameters);
  PublishError(tcpOpen(fields[0], FieldInteger(fields[1]), FieldInteger(fields[2])));
}

void wlTCPclose(const std::string&) { PublishError(tcpClose()); }

void wlTCPsend(const std::string& data) { PublishError(tcpSend(data)); }

void wlTCPsendCRLF(const std::string& data) { PublishError(tcpSend(data + kLineEnd)); }

void wlTCPrxbyte(const std::string& variable) {
  std::string byte;
  const int errorNumber = tcpReceive(1, byte);
  SetHostVariable(variable, byte);
  PublishReceive(errorNumber);
}

void wlTCPrxline(const std::string& variable) {
  Spare<std::string> line;
  LineEnd end = LineEnd::Whole;
  bool atEnd = false;
  const int errorNumber = tcpReceiveLine(line.value, end, atEnd);
  SetHostVariable(variable, line.value);
  PublishReceive(errorNumber, atEnd);
}

// The file is opened first: when it cannot be, nothing is received and the
// data stays in the connection for the next action.
void wlTCPrxF(const std::string& fileName) {
  int errorNumber = 0;
  if (diskFileOpen(kTcpFileChannel, fileName, FileMode::Replace, errorNumber)) {
    std::string batch;
    int receiveError = kNoMemory;
    try {
      receiveError = ReceiveLinesInto(batch, errorNumber);
      WriteBatch(batch, errorNumber);
    } catch (const std::bad_alloc&) {
    }
    if (receiveError != 0) errorNumber = receiveError;
    diskFileClose(kTcpFileChannel, errorNumber);
  }
  PublishReceive(errorNumber);
}

void wlTCPrxFT(const std::string& fileName) {
  int errorNumber = 0;
  if (diskFileOpen(kTcpFileChannel, fileName, FileMode::Append, errorNumber)) {
    std::string line;
    LineEnd end = LineEnd::Whole;
    bool atEnd = false;
    if (const int receiveError = tcpReceiveLine(line, end, atEnd)) errorNumber = receiveError;
    // A failed receive still appends an empty line; a piece handed over for
    // a bound gets no line end, so the next call completes its line.
    if (end == LineEnd::Whole) line += kLineEnd;
    diskFileWrite(kTcpFileChannel, line.data(), line.size(), errorNumber);
    diskFileClose(kTcpFileChannel, errorNumber);
  }
  PublishReceive(errorNumber);
}

void wlTCPrxFlush(const std::string&) { PublishReceive(tcpDiscard()); }

}  // namespace wl
