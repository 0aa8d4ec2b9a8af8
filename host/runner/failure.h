// When the runner itself fails. Whatever no code catches ends the process
// with exit code 5 (Outcome::RunnerFailed) and one line on stderr that says
// what happened, where, and which script line was running:
//
//   nbrun: the runner failed while demo.nbs:12 ran: access violation
//   (exception C0000005) at Wirelet.nbp+0x14F0
//
// That covers a crash in the runner or in a plug-in's action (an access
// violation, a stack overflow, any other exception Windows raises), a C++
// exception that escapes and an abort. The module and offset are what the
// debug files resolve to a source line. The ports stay as they are: after a
// crash no plug-in code can be trusted to run, and Windows closes every
// handle as the process ends. An allocation that fails in the runner's own
// code is caught where the run is guarded (Runner::guard), which still
// closes the ports.
#pragma once

#include <string>

#include "host/runner/program.h"

namespace nbrun {

// From now on, for every thread of the process.
void InstallCrashGuard();

// The script line now running ("demo.nbs:12"), or "" between runs; named
// by a failure and by the --max-seconds watchdog.
void NoteRunningLine(const std::string& where);
std::string RunningLine();

// "nbrun: the runner failed while demo.nbs:12 ran: " and `why`.
std::string RunnerFailure(const std::string& why);

// Says RunnerFailure(why) on stderr and ends the process with exit code 5.
[[noreturn]] void FailRunner(const std::string& why);

// What writes the results when the process ends before the run does (a
// crash, the --max-seconds watchdog); nullptr: nothing.
using LastWords = void (*)(Outcome outcome, const std::string& message);
void SetLastWords(LastWords write);
void SayLastWords(Outcome outcome, const std::string& message);

}  // namespace nbrun
