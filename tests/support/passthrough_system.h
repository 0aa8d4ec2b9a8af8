// A SystemApi that passes every call to the real one: the base of the
// tests' fake devices, which override only what they play themselves.
#pragma once

#include "serial/system_api.h"

namespace wltest {

class PassThroughSystem : public wl::SystemApi {
 public:
  UINT SetErrorMode(UINT mode) override { return wl::RealSystemApi().SetErrorMode(mode); }
  void SetLastError(DWORD code) override { wl::RealSystemApi().SetLastError(code); }
  DWORD GetLastError() override { return wl::RealSystemApi().GetLastError(); }
  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD creation, DWORD attributes) override { return wl::RealSystemApi().CreateFileA(name, access, share, creation, attributes); }
  BOOL CloseHandle(HANDLE handle) override { return wl::RealSystemApi().CloseHandle(handle); }
  BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* read) override { return wl::RealSystemApi().ReadFile(handle, buffer, count, read); }
  BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* written) override { return wl::RealSystemApi().WriteFile(handle, buffer, count, written); }
  DWORD GetFileType(HANDLE handle) override { return wl::RealSystemApi().GetFileType(handle); }
  DWORD GetFileSize(HANDLE handle, DWORD* high) override { return wl::RealSystemApi().GetFileSize(handle, high); }
  DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* high, DWORD method) override { return wl::RealSystemApi().SetFilePointer(handle, distance, high, method); }
  BOOL SetEndOfFile(HANDLE handle) override { return wl::RealSystemApi().SetEndOfFile(handle); }
  void Sleep(DWORD milliseconds) override { wl::RealSystemApi().Sleep(milliseconds); }
  BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override { return wl::RealSystemApi().QueryPerformanceCounter(count); }
  BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) override { return wl::RealSystemApi().QueryPerformanceFrequency(frequency); }
  BOOL GetCommState(HANDLE handle, DCB* dcb) override { return wl::RealSystemApi().GetCommState(handle, dcb); }
  BOOL SetCommState(HANDLE handle, DCB* dcb) override { return wl::RealSystemApi().SetCommState(handle, dcb); }
  BOOL GetCommProperties(HANDLE handle, COMMPROP* properties) override { return wl::RealSystemApi().GetCommProperties(handle, properties); }
  BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) override { return wl::RealSystemApi().SetupComm(handle, inQueue, outQueue); }
  BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status) override { return wl::RealSystemApi().ClearCommError(handle, errors, status); }
  BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override { return wl::RealSystemApi().GetCommTimeouts(handle, timeouts); }
  BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override { return wl::RealSystemApi().SetCommTimeouts(handle, timeouts); }
  int WSAStartup(WORD version, WSADATA* data) override { return wl::RealSystemApi().WSAStartup(version, data); }
  int WSACleanup() override { return wl::RealSystemApi().WSACleanup(); }
  int WSAGetLastError() override { return wl::RealSystemApi().WSAGetLastError(); }
  hostent* gethostbyname(const char* name) override { return wl::RealSystemApi().gethostbyname(name); }
  servent* getservbyname(const char* name, const char* protocol) override { return wl::RealSystemApi().getservbyname(name, protocol); }
  int gethostname(char* name, int length) override { return wl::RealSystemApi().gethostname(name, length); }
  SOCKET socket(int family, int type, int protocol) override { return wl::RealSystemApi().socket(family, type, protocol); }
  int setsockopt(SOCKET s, int level, int option, const char* value, int length) override { return wl::RealSystemApi().setsockopt(s, level, option, value, length); }
  int getsockopt(SOCKET s, int level, int option, char* value, int* length) override { return wl::RealSystemApi().getsockopt(s, level, option, value, length); }
  int connect(SOCKET s, const sockaddr* address, int length) override { return wl::RealSystemApi().connect(s, address, length); }
  int ioctlsocket(SOCKET s, long command, u_long* argument) override { return wl::RealSystemApi().ioctlsocket(s, command, argument); }
  int select(int ignored, fd_set* readable, fd_set* writable, fd_set* failed, timeval* timeout) override { return wl::RealSystemApi().select(ignored, readable, writable, failed, timeout); }
  int send(SOCKET s, const char* buffer, int length, int flags) override { return wl::RealSystemApi().send(s, buffer, length, flags); }
  int recv(SOCKET s, char* buffer, int length, int flags) override { return wl::RealSystemApi().recv(s, buffer, length, flags); }
  int closesocket(SOCKET s) override { return wl::RealSystemApi().closesocket(s); }
};

}  // namespace wltest
