// The rig itself: a COM name mapped to a pty carries bytes to its peer name.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

HANDLE OpenPort(const char* name) {
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    COMMTIMEOUTS t = {MAXDWORD, 0, 0, 0, 2000};  // reads return at once
    SetCommTimeouts(h, &t);
  }
  return h;
}

// Reads until `count` bytes arrived or five seconds passed.
std::string ReadFor(HANDLE h, size_t count) {
  std::string got;
  const DWORD start = GetTickCount();
  while (got.size() < count && GetTickCount() - start < 5000) {
    char buffer[256];
    DWORD n = 0;
    if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr)) break;
    got.append(buffer, n);
    if (n == 0) Sleep(1);
  }
  return got;
}

// Reads and drops whatever is waiting, until the line has been quiet a while.
void Drain(HANDLE h) {
  for (int quiet = 0; quiet < 3;) {
    char buffer[4096];
    DWORD n = 0;
    if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr)) return;
    quiet = n == 0 ? quiet + 1 : 0;
    if (n == 0) Sleep(10);
  }
}

}  // namespace

TEST(Rig, BytesWrittenToAComPortArriveAtItsPeer) {
  HANDLE port = OpenPort("COM1");
  HANDLE peer = OpenPort("\\\\.\\COM101");
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  ASSERT_NE(peer, INVALID_HANDLE_VALUE) << GetLastError();
  Drain(peer);  // what an earlier run left
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port, all.data(), static_cast<DWORD>(all.size()), &written, nullptr));
  EXPECT_EQ(written, all.size());
  EXPECT_EQ(ReadFor(peer, all.size()), all);
  CloseHandle(port);
  CloseHandle(peer);
}
