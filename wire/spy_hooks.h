// The spy: logs every exchange between the served comm plug-ins and the
// outside world as it happens (the log's lines: spy_log.h), for the real
// .nbp as it is, of either edition and of any later build.
//
// Its functions are a layer of the chain (chain.h), in front of kernel32's
// file and port calls and the socket calls; each makes the call it stands
// for, then logs it. The plug-in must see exactly what it would see without
// the spy: the arguments go on unchanged, and the results, the bytes and
// the last error come back as the call left them. The plug-in reads the
// last error after every port and file call, even a successful one, and
// Windows Sockets keeps its error in the same place, so the last error is
// saved right after each call and put back after the logging.
//
// Only the handles the plug-in opened through CreateFileA are logged; its
// runtime's own handles (threads, events) pass without a word.
#pragma once

#include <windows.h>

#include <cstdio>

#include "wire/wire_calls.h"

namespace nbspy {

class Spy {
 public:
  // Logs to `out` (left open), from a header line; one spy at a time.
  explicit Spy(std::FILE* out);
  // Writes what it holds back.
  ~Spy();
  Spy(const Spy&) = delete;
  Spy& operator=(const Spy&) = delete;

  // Before the host prints: on the screen, writes what the log holds back
  // (the line of reads still open, repeats of an event not yet counted), so
  // the log and the host's output stay in order; in a file only the
  // repeats, so an answer the script reads over several actions (a byte at
  // a time) stays one line.
  static void Flush();
  // Writes everything the log holds back (before the log is read).
  static void Finish();
};

// The spy's functions, for the chain; they log only while a Spy lives.
nbwire::WireLayer SpyLayer();

}  // namespace nbspy
