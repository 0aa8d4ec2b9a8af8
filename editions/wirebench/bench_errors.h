// The numbers Wirebench's actions leave in [wbErr]; [wbErrText] says what
// went wrong in words. Where a failure means what a comm plug-in's number
// means, it is that number: a file that cannot be read or written gives
// the number the comm plug-ins give for the same Windows error (53 no such
// file, 76 no such folder, 70 in use or read-only, 61 disk full, ...).
#pragma once

namespace wl {
namespace wirebench {

enum BenchError : int {
  kDone = 0,
  // The parameter text is not of the action's form: another number of
  // fields, or a port that names neither a COM port nor a TCP server.
  kBadParameter = 5,
  kNoMemory = 7,
  // A file name is empty where the action needs one.
  kNoFileName = 64,
  // The device file has a mistake; [wbErrText] names its line.
  kDeviceFileMistake = 80,
  // The spy log shows no exchange with the port to make a device from.
  kNothingInLog = 81,
  // No comm plug-in is loaded in this process: the setting is kept, and
  // reaches the comm plug-ins found at a later Wirebench action.
  kNoCommPlugIn = 82,
};

}  // namespace wirebench
}  // namespace wl
