// The real SystemApi: each method is one ordinary call of the imported
// function, made when the operation happens.
#include "system_api.h"

namespace wl {
namespace {

class RealSystem final : public SystemApi {
 public:
  UINT SetErrorMode(UINT mode) override { return ::SetErrorMode(mode); }
  void SetLastError(DWORD code) override { ::SetLastError(code); }
  DWORD GetLastError() override { return ::GetLastError(); }

  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD creation,
                     DWORD attributes) override {
    return ::CreateFileA(name, access, share, nullptr, creation, attributes, nullptr);
  }
  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
  BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* read) override {
    return ::ReadFile(handle, buffer, count, read, nullptr);
  }
  BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* written) override {
    return ::WriteFile(handle, buffer, count, written, nullptr);
  }
  DWORD GetFileType(HANDLE handle) override { return ::GetFileType(handle); }
  DWORD GetFileSize(HANDLE handle, DWORD* high) override { return ::GetFileSize(handle, high); }
  DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* high, DWORD method) override {
    return ::SetFilePointer(handle, distance, high, method);
  }
  BOOL SetEndOfFile(HANDLE handle) override { return ::SetEndOfFile(handle); }
  void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
  BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override {
    return ::QueryPerformanceCounter(count);
  }
  BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) override {
    return ::QueryPerformanceFrequency(frequency);
  }

  BOOL GetCommState(HANDLE handle, DCB* dcb) override { return ::GetCommState(handle, dcb); }
  BOOL SetCommState(HANDLE handle, DCB* dcb) override { return ::SetCommState(handle, dcb); }
  BOOL GetCommProperties(HANDLE handle, COMMPROP* properties) override {
    return ::GetCommProperties(handle, properties);
  }
  BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) override {
    return ::SetupComm(handle, inQueue, outQueue);
  }
  BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status) override {
    return ::ClearCommError(handle, errors, status);
  }
  BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override {
    return ::GetCommTimeouts(handle, timeouts);
  }
  BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override {
    return ::SetCommTimeouts(handle, timeouts);
  }

  int WSAStartup(WORD version, WSADATA* data) override { return ::WSAStartup(version, data); }
  int WSACleanup() override { return ::WSACleanup(); }
  int WSAGetLastError() override { return ::WSAGetLastError(); }
  hostent* gethostbyname(const char* name) override { return ::gethostbyname(name); }
  servent* getservbyname(const char* name, const char* protocol) override {
    return ::getservbyname(name, protocol);
  }
  int gethostname(char* name, int length) override { return ::gethostname(name, length); }
  SOCKET socket(int family, int type, int protocol) override {
    return ::socket(family, type, protocol);
  }
  int setsockopt(SOCKET s, int level, int option, const char* value, int length) override {
    return ::setsockopt(s, level, option, value, length);
  }
  int getsockopt(SOCKET s, int level, int option, char* value, int* length) override {
    return ::getsockopt(s, level, option, value, length);
  }
  int connect(SOCKET s, const sockaddr* address, int length) override {
    return ::connect(s, address, length);
  }
  int ioctlsocket(SOCKET s, long command, u_long* argument) override {
    return ::ioctlsocket(s, command, argument);
  }
  int select(int ignored, fd_set* readable, fd_set* writable, fd_set* failed,
             timeval* timeout) override {
    return ::select(ignored, readable, writable, failed, timeout);
  }
  int send(SOCKET s, const char* buffer, int length, int flags) override {
    return ::send(s, buffer, length, flags);
  }
  int recv(SOCKET s, char* buffer, int length, int flags) override {
    return ::recv(s, buffer, length, flags);
  }
  int closesocket(SOCKET s) override { return ::closesocket(s); }
};

RealSystem realSystem;
SystemApi* current = &realSystem;
// The process-wide lock around each call: a critical section, which takes
// no system call when nobody else holds it. Never destroyed, so calls made
// while the library unloads (its ports closed) still find it.
struct CallLock {
  CallLock() { InitializeCriticalSection(&section); }
  CRITICAL_SECTION section;
};
CallLock callLock;

// The performance counter of the SystemApi in use, so a test's fake clock
// drives every deadline. Its frequency is fixed at boot (Microsoft's
// QueryPerformanceFrequency page), so it is read once per SystemApi.
class CounterClock final : public Clock {
 public:
  uint32_t milliseconds() override {
    SystemApi& sys = System();
    if (&sys != frequencyOf_) {
      LARGE_INTEGER frequency{};
      sys.QueryPerformanceFrequency(&frequency);
      frequency_ = frequency.QuadPart > 0 ? static_cast<uint64_t>(frequency.QuadPart) : 1000;
      frequencyOf_ = &sys;
    }
    LARGE_INTEGER count{};
    sys.QueryPerformanceCounter(&count);
    const uint64_t ticks = static_cast<uint64_t>(count.QuadPart);
    // In two steps, so that ticks x 1000 cannot overflow.
    return static_cast<uint32_t>(ticks / frequency_ * 1000 + ticks % frequency_ * 1000 / frequency_);
  }

 private:
  SystemApi* frequencyOf_ = nullptr;
  uint64_t frequency_ = 1000;
};
CounterClock counterClock;

}  // namespace

SystemApi& System() { return *current; }

void UseSystem(SystemApi* api) { current = api ? api : &realSystem; }

SystemApi& RealSystemApi() { return realSystem; }

Clock& SystemClock() { return counterClock; }

void LockCalls() { EnterCriticalSection(&callLock.section); }
void UnlockCalls() { LeaveCriticalSection(&callLock.section); }

}  // namespace wl
