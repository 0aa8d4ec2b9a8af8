// A device file made from a spy log (nbrun --spy-to-device, wbSpyToDevice):
// the device answers each request the plug-in wrote to the port or sent to
// the server with what came back after it, in the same pieces and after
// the same delays; what came before the first request of the first session
// is sent after the open (a server's greeting); a server that closed the
// connection after an answer closes it again there. Requests seen more
// than once with other answers take turns, so a replay of the same
// dialogue gets the same answers in the same order.
//
// Writes closer than a frame gap are joined first (a request sent in
// pieces, as a Modbus frame one byte at a time); they are cut into requests
// at CR and LF when they hold line endings, and taken whole otherwise
// (requests end none). Answers are written exactly as they came (answers
// end none), at the port's rate. Output nobody asked for comes when the
// log shows it came; where the log cannot show that (lines one read took
// long after they came), the file says so and `warning` tells why.
// Pure code: no Windows here.
#pragma once

#include <string>

namespace nbdevice {

struct LogConversion {
  bool ok = false;
  std::string port;        // what is played: "COM1", "127.0.0.7:5000"
  std::string deviceFile;  // the file's text
  std::string error;
  std::string warning;  // where the made device cannot answer as the log's did
};

// Who made a device file, as its first line names it.
constexpr char kRunnerMaker[] = "nbrun --spy-to-device";
constexpr char kWirebenchMaker[] = "wbSpyToDevice";

// `place` names the port ("COM1", "COM12") or the server ("127.0.0.7:5000",
// "scale.local:7000", as the script gave it to wlTCPopen) to play; empty
// takes the first the log shows an exchange with.
LogConversion DeviceFromLog(const std::string& log, const std::string& place,
                            const std::string& logName, const std::string& maker = kRunnerMaker);

}  // namespace nbdevice
