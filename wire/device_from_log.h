// A device file made from a spy log (nbrun --spy-to-device): the device
// answers each request the plug-in wrote to the port with what came back
// after it, in the same pieces and after the same delays; what came before
// the first request of the first session is sent after the open. Requests
// seen more than once with other answers take turns, so a replay of the
// same dialogue gets the same answers in the same order.
//
// The writes are cut into requests at CR and LF when they hold line
// endings, and taken whole otherwise (requests end none). Answers are
// written exactly as they came (answers end none).
// Pure code: no Windows here.
#pragma once

#include <string>

namespace nbdevice {

struct LogConversion {
  bool ok = false;
  std::string port;        // the port played, as "COM1"
  std::string deviceFile;  // the file's text
  std::string error;
};

// `port` names the port to play ("COM1", "COM12"); empty takes the first
// port the log shows an exchange with.
LogConversion DeviceFromLog(const std::string& log, const std::string& port,
                            const std::string& logName);

}  // namespace nbdevice
