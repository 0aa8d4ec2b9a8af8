// The one wrapper around operating-system calls.
//
// Every call the plug-in makes to kernel32 and WSOCK32 goes through a
// SystemApi. The real one (system_api_win.cpp) calls the imported functions
// directly at the moment of each operation, so debuggers and API monitors that
// hook the library's imports see every call. Tests put a device of their own
// here (a recording fake) to show what a pty under Wine cannot: DCB fields,
// queue sizes, time-outs, line errors and failing calls.
//
// OsCall adds what every serial and file operation needs around its call:
// the process-wide callLock, error mode 0x8001, the last-error value cleared
// before and read right after.
#pragma once

#include <winsock.h>
#include <windows.h>

#include <cstdint>

#include "bounds.h"

namespace wl {

class SystemApi {
 public:
  virtual ~SystemApi() = default;

  // Error state of the calling thread and process.
  virtual UINT SetErrorMode(UINT mode) = 0;
  virtual void SetLastError(DWORD code) = 0;
  virtual DWORD GetLastError() = 0;

  // Files and devices (never overlapped).
  virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD creation,
                             DWORD attributes) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* read) = 0;
  virtual BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* written) = 0;
  virtual DWORD GetFileType(HANDLE handle) = 0;
  virtual DWORD GetFileSize(HANDLE handle, DWORD* high) = 0;
  virtual DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* high, DWORD method) = 0;
  virtual BOOL SetEndOfFile(HANDLE handle) = 0;
  virtual void Sleep(DWORD milliseconds) = 0;
  virtual BOOL QueryPerformanceCounter(LARGE_INTEGER* count) = 0;
  virtual BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) = 0;

  // Serial communications.
  virtual BOOL GetCommState(HANDLE handle, DCB* dcb) = 0;
  virtual BOOL SetCommState(HANDLE handle, DCB* dcb) = 0;
  virtual BOOL GetCommProperties(HANDLE handle, COMMPROP* properties) = 0;
  virtual BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) = 0;
  virtual BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status) = 0;
  virtual BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) = 0;
  virtual BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) = 0;

  // Windows Sockets (WSOCK32).
  virtual int WSAStartup(WORD version, WSADATA* data) = 0;
  virtual int WSACleanup() = 0;
  virtual int WSAGetLastError() = 0;
  virtual hostent* gethostbyname(const char* name) = 0;
  virtual servent* getservbyname(const char* name, const char* protocol) = 0;
  virtual int gethostname(char* name, int length) = 0;
  virtual SOCKET socket(int family, int type, int protocol) = 0;
  virtual int setsockopt(SOCKET s, int level, int option, const char* value, int length) = 0;
  virtual int getsockopt(SOCKET s, int level, int option, char* value, int* length) = 0;
  virtual int connect(SOCKET s, const sockaddr* address, int length) = 0;
  virtual int ioctlsocket(SOCKET s, long command, u_long* argument) = 0;
  virtual int select(int ignored, fd_set* readable, fd_set* writable, fd_set* failed,
                     timeval* timeout) = 0;
  virtual int send(SOCKET s, const char* buffer, int length, int flags) = 0;
  virtual int recv(SOCKET s, char* buffer, int length, int flags) = 0;
  virtual int closesocket(SOCKET s) = 0;
};

// The SystemApi in use: the real one unless a test installed another.
SystemApi& System();

// Installs `api` for every later call; nullptr restores the real one.
void UseSystem(SystemApi* api);

// The real one, for fakes that pass some calls through.
SystemApi& RealSystemApi();

// Milliseconds from the performance counter of the SystemApi in use, for
// deadlines. Not GetTickCount: on Windows it moves in steps of the timer
// tick (10 to 16 ms), as coarse as the shortest waits it would measure.
Clock& SystemClock();

// Runs call(System()) under callLock with the error mode and last-error
// handling described above; returns the Windows error read right after it
// (0 when the call reported none).
template <class Call>
DWORD OsCall(Call call);

// Takes and releases callLock (exposed for OsCall only).
void LockCalls();
void UnlockCalls();

template <class Call>
DWORD OsCall(Call call) {
  LockCalls();
  SystemApi& sys = System();
  const UINT previous = sys.SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  sys.SetLastError(0);
  call(sys);
  const DWORD error = sys.GetLastError();
  sys.SetErrorMode(previous);
  UnlockCalls();
  return error;
}

}  // namespace wl
