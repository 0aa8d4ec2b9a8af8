#include "host/runner/failure.h"

#include <windows.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <new>

#include "host/runner/program.h"

namespace nbrun {
namespace {

// The running line in a fixed buffer: a thread that reports a crash reads
// it while the crashed one is stopped, with no allocation on either side.
char g_running[512];

// A crashed thread may have no stack left (a stack overflow leaves a few
// KB), so it only hands its exception over and waits: the report is made
// on this thread, whose stack is its own.
EXCEPTION_RECORD g_exception;
HANDLE g_crashed = nullptr;

LastWords g_lastWords = nullptr;

const struct {
  DWORD code;
  const char* name;
} kExceptionNames[] = {
    {EXCEPTION_ACCESS_VIOLATION, "access violation"},
    {EXCEPTION_STACK_OVERFLOW, "stack overflow"},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, "integer division by zero"},
    {EXCEPTION_INT_OVERFLOW, "integer overflow"},
    {EXCEPTION_ILLEGAL_INSTRUCTION, "illegal instruction"},
    {EXCEPTION_PRIV_INSTRUCTION, "privileged instruction"},
    {EXCEPTION_IN_PAGE_ERROR, "in-page error"},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, "array bounds exceeded"},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, "floating-point division by zero"},
    {EXCEPTION_FLT_INVALID_OPERATION, "invalid floating-point operation"},
    {EXCEPTION_FLT_OVERFLOW, "floating-point overflow"},
    {EXCEPTION_BREAKPOINT, "breakpoint"},
    {STATUS_NO_MEMORY, "out of memory"},
};

// "Wirelet.nbp+0x14F0": the module holding `address` and the offset into it.
std::string Place(const void* address) {
  HMODULE module = nullptr;
  char path[MAX_PATH];
  char place[MAX_PATH + 40];
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(address), &module) &&
      GetModuleFileNameA(module, path, sizeof path) > 0) {
    const char* name = path;
    for (const char* c = path; *c; ++c) {
      if (*c == '\\' || *c == '/') name = c + 1;
    }
    std::snprintf(place, sizeof place, "%s+0x%lX", name,
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address) -
                                             reinterpret_cast<uintptr_t>(module)));
  } else {
    std::snprintf(place, sizeof place, "0x%08lX",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address)));
  }
  return place;
}

std::string Describe(const EXCEPTION_RECORD& record) {
  std::string name = "an exception";
  for (const auto& known : kExceptionNames) {
    if (known.code == record.ExceptionCode) name = known.name;
  }
  char code[40];
  std::snprintf(code, sizeof code, " (exception %08lX) at ",
                static_cast<unsigned long>(record.ExceptionCode));
  std::string text = name + code + Place(record.ExceptionAddress);
  if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
    char access[64];
    std::snprintf(access, sizeof access, ", %s address 0x%08lX",
                  record.ExceptionInformation[0] == 1   ? "writing"
                  : record.ExceptionInformation[0] == 8 ? "running"
                                                        : "reading",
                  static_cast<unsigned long>(record.ExceptionInformation[1]));
    text += access;
  }
  return text;
}

DWORD WINAPI ReportCrash(void*) {
  WaitForSingleObject(g_crashed, INFINITE);
  FailRunner(Describe(g_exception));
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  g_exception = *pointers->ExceptionRecord;
  SetEvent(g_crashed);
  Sleep(INFINITE);
  return EXCEPTION_EXECUTE_HANDLER;
}

void OnTerminate() {
  std::string why = "an exception no code caught";
  if (const std::exception_ptr escaped = std::current_exception()) {
    try {
      std::rethrow_exception(escaped);
    } catch (const std::bad_alloc&) {
      why = "out of memory";
    } catch (const std::exception& e) {
      why += ": " + std::string(e.what());
    } catch (...) {
    }
  }
  FailRunner(why);
}

void OnAbort(int) { FailRunner("aborted"); }

}  // namespace

void InstallCrashGuard() {
  g_crashed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(CreateThread(nullptr, 0, ReportCrash, nullptr, 0, nullptr));
  SetUnhandledExceptionFilter(OnUnhandledException);
  std::set_terminate(OnTerminate);
  std::signal(SIGABRT, OnAbort);
}

void NoteRunningLine(const std::string& where) {
  lstrcpynA(g_running, where.c_str(), sizeof g_running);
}

std::string RunningLine() { return g_running; }

std::string RunnerFailure(const std::string& why) {
  const std::string where = RunningLine();
  return "nbrun: the runner failed" + (where.empty() ? std::string() : " while " + where + " ran") +
         ": " + why;
}

void SetLastWords(LastWords write) { g_lastWords = write; }

void SayLastWords(Outcome outcome, const std::string& message) {
  if (g_lastWords) g_lastWords(outcome, message);
}

void FailRunner(const std::string& why) {
  const std::string line = RunnerFailure(why) + "\n";
  // Straight to the handle: the C library's streams may be locked by the
  // thread that failed.
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
            &written, nullptr);
  // After the line: the results are written with the heap as the crash left it.
  SayLastWords(Outcome::RunnerFailed, RunnerFailure(why));
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(Outcome::RunnerFailed));
  for (;;) Sleep(INFINITE);  // TerminateProcess does not return for its own process
}

}  // namespace nbrun
