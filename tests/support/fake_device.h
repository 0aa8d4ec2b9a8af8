// A recording fake device: plays serial ports under the names it is given
// and passes every other call (disk files, memory, sockets) to the real
// system. It shows what a pty under Wine cannot: every DCB field, queue
// sizes, time-outs, line errors, refused and short calls, the order of the
// calls an action makes, and how many handles are open.
//
// Time is the fake's own: Sleep and GetTickCount run on a virtual clock,
// and a ReadFile or WriteFile that would wait moves the clock the way the
// port's COMMTIMEOUTS say; a WriteFile also takes its bytes' line time at
// the rate and framing in the port's DCB. A call that would wait for ever on a real device
// returns what it has instead and is recorded in foreverWaits(), so a fault
// fails a test rather than hanging it.
//
// The port itself behaves as wire/windows_port.h says a Windows port does:
// settings and time-outs kept from one open to the next, one handle at a
// time, writes that take their line time and wait for flow control,
// abort-on-error, and removal (unplug, plugIn).
//
// Install with wl::UseSystem(&fake); names of the form COMn or \\.\COMn that
// were not added fail with "no such device" (2) and never reach the real
// system, so a test with the fake cannot open a real port.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/passthrough_system.h"
#include "wire/windows_port.h"

namespace wltest {

struct FakePort {
  std::string name;
  // Kept across opens, as the Windows driver keeps them: set them before
  // the open to play what the program before left (fAbortOnError, DTR off,
  // .NET's read time-outs {MAXDWORD, MAXDWORD, MAXDWORD-1}, ...).
  DCB dcb{};                  // starts as wire/port_model.h says: 9600 8N1, no flow control
  COMMPROP properties{};      // dwMaxTxQueue / dwMaxRxQueue 0: no limit
  COMMTIMEOUTS timeouts{};    // all 0 until someone sets them
  std::string inQueue;        // bytes the device received and nobody read yet
  // Reported (and cleared) by the next ClearCommError; with dcb.fAbortOnError
  // every ReadFile and WriteFile fails with 995 until then.
  DWORD lineErrors = 0;
  // The modem lines the device drives: with fOutxCtsFlow (fOutxDsrFlow) and
  // CTS (DSR) low a write sends nothing until its total time-out ends it.
  bool cts = true, dsr = true, dcd = false, ring = false;
  std::string sent;           // every byte the device took
  std::vector<std::string> writes;  // what each WriteFile took
  size_t room = static_cast<size_t>(-1);  // bytes the device can still take
  std::vector<std::pair<DWORD, DWORD>> setupComm;  // (receive, transmit) asked
  bool refuseBadFraming = true;  // SetCommState refuses what a driver does (wire/port_model.h)
  int opens = 0;
  nbport::WindowsPort model;  // open, removed, the line's time
};

class FakeDevice : public PassThroughSystem {
 public:
  FakeDevice();
  ~FakeDevice() override;

  // Adds a port under `name` ("COM3", "\\\\.\\COM12"); returns its record.
  FakePort& addPort(const std::string& name);
  FakePort& port(const std::string& name);

  // The device receives `bytes` `afterMs` milliseconds of fake time from now.
  void arrive(const std::string& name, const std::string& bytes, DWORD afterMs = 0);

  // The adapter is pulled out: opening `name` fails with 2, and every call
  // on a handle opened before (but CloseHandle) fails with `error` (drivers
  // give 5, 22, 31, 995, 1167 or 1617).
  void unplug(const std::string& name, DWORD error = nbport::kRemovedError);
  // Plugged in again: the name opens once the stale handle is closed (5
  // until then); the stale handle never works again.
  void plugIn(const std::string& name);

  // Makes call `call` ("SetCommState", "WriteFile", ...) fail with Windows
  // error `error`: the nth matching call from now, and `times` calls from
  // there (-1: every one). `target` limits it to one port name or to files
  // whose name contains it ("" matches every target).
  void failCall(const std::string& call, DWORD error, int nth = 1, int times = 1,
                const std::string& target = "");
  // Makes the nth matching WriteFile from now take `missing` bytes fewer
  // than given and report success, as a write time-out does.
  void shortWrite(DWORD missing, int nth = 1, const std::string& target = "");
  // Drops every failure and short write still to come: the device recovers.
  void clearFailures() { injections_.clear(); }
  // How many calls an injection has failed or shortened so far.
  int failuresInjected() const { return fired_; }

  // The calls made so far, one entry each: "<call> <target>[ <arguments>]",
  // where target is the port's name or "file:<name>".
  const std::vector<std::string>& log() const { return log_; }
  // The calls on one target, without the target: "SetupComm 4096 8192".
  std::vector<std::string> callsOn(const std::string& target) const;
  void clearLog() { log_.clear(); }

  // Calls that would have waited without end on a real device.
  const std::vector<std::string>& foreverWaits() const { return foreverWaits_; }
  // Calls made with an error mode other than 0x8001 in force.
  const std::vector<std::string>& unguardedCalls() const { return unguarded_; }

  // Handles opened through this fake and not closed (ports and files).
  int openHandles() const { return static_cast<int>(handles_.size()); }
  int openPortHandles() const;

  // Fake time in milliseconds.
  DWORD now() const { return now_; }
  // How often the engine read the clock (QueryPerformanceCounter).
  long clockReads() const { return clockReads_; }
  // Sleeps last whole ticks of this many milliseconds, as on Windows, whose
  // default timer tick is 15.6 ms; 1 (the default): exactly as asked.
  void setTimerTick(DWORD milliseconds) { timerTick_ = milliseconds; }

  // A run-away loop guard: after this many port calls every port call
  // fails with error 6, so an engine loop that never ends still returns.
  void setCallBudget(long calls) { budget_ = calls; }
  bool budgetExhausted() const { return spent_ > budget_; }

  UINT SetErrorMode(UINT mode) override;
  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD creation,
                     DWORD attributes) override;
  BOOL CloseHandle(HANDLE handle) override;
  BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* read) override;
  BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* written) override;
  DWORD GetFileType(HANDLE handle) override;
  void Sleep(DWORD milliseconds) override;
  BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override;
  BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) override;
  BOOL GetCommState(HANDLE handle, DCB* dcb) override;
  BOOL SetCommState(HANDLE handle, DCB* dcb) override;
  BOOL GetCommProperties(HANDLE handle, COMMPROP* properties) override;
  BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) override;
  BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status) override;
  BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override;
  BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override;

 private:
  struct Arrival {
    DWORD at;
    std::string bytes;
  };
  struct Injection {
    std::string call, target;
    DWORD error;      // 0: a short write of `missing` bytes
    DWORD missing;
    int skip;         // matching calls still to let through
    int times;        // failures left (-1: for ever)
  };
  struct Handle {
    std::string target;   // port name or "file:<name>"
    FakePort* port;       // nullptr for a file
  };

  FakePort* portOf(HANDLE handle);
  std::string targetOf(HANDLE handle) const;
  void record(const std::string& call, const std::string& target, const std::string& args = "");
  // The injection that applies to this call, or nullptr (counts the call).
  Injection* injected(const std::string& call, const std::string& target);
  // Fails the call with `error` as the real system would.
  BOOL fail(DWORD error);
  // Moves arrivals that are due into their port's queue.
  void settle();
  // The time of the next arrival for `port` after now, or false.
  bool nextArrival(const FakePort& port, DWORD& at) const;
  bool spend();
  class Clock;
  class End;

  std::map<std::string, FakePort> ports_;
  std::map<std::string, std::vector<Arrival>> arrivals_;
  std::map<HANDLE, Handle> handles_;
  std::vector<Injection> injections_;
  std::vector<std::string> log_, foreverWaits_, unguarded_;
  UINT errorMode_ = 0;
  DWORD now_ = 1000000;
  uintptr_t nextHandle_ = 0x7F000000;
  long budget_ = 2000000;
  long spent_ = 0;
  long clockReads_ = 0;
  DWORD timerTick_ = 1;
  int fired_ = 0;
};

// The call names of entries as callsOn returns them (arguments dropped).
std::vector<std::string> CallNames(const std::vector<std::string>& entries);

}  // namespace wltest
