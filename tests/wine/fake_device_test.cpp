// The tests' fake device as the engine's tests use it: a Windows port that
// keeps what the program before left, takes line time on the virtual
// clock, holds writes for flow control, aborts after a line error and can
// be pulled out. Called directly, as the system wrapper calls it.
#include <gtest/gtest.h>

#include <string>

#include "support/fake_device.h"

namespace {

using wltest::FakeDevice;
using wltest::FakePort;

HANDLE Open(FakeDevice& fake, const char* name = "COM3") {
  return fake.CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
}

DWORD Write(FakeDevice& fake, HANDLE h, DWORD count) {
  const std::string bytes(count, 'w');
  DWORD written = 0;
  EXPECT_TRUE(fake.WriteFile(h, bytes.data(), count, &written));
  return written;
}

TEST(FakeDevicePort, KeepsWhatTheProgramBeforeLeftAndAbortsOnError) {
  FakeDevice fake;
  FakePort& p = fake.addPort("COM3");
  p.timeouts = {MAXDWORD, MAXDWORD, MAXDWORD - 1, 0, 0};  // .NET's infinite ReadTimeout
  p.dcb.fAbortOnError = TRUE;
  p.dcb.fDtrControl = DTR_CONTROL_DISABLE;
  HANDLE h = Open(fake);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(fake), INVALID_HANDLE_VALUE);  // one handle at a time
  EXPECT_EQ(fake.GetLastError(), 5u);
  COMMTIMEOUTS t{};
  ASSERT_TRUE(fake.GetCommTimeouts(h, &t));
  EXPECT_EQ(t.ReadTotalTimeoutConstant, MAXDWORD - 1);
  DCB dcb{};
  ASSERT_TRUE(fake.GetCommState(h, &dcb));
  EXPECT_TRUE(dcb.fAbortOnError);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  // The first byte to come ends the read; with bytes waiting it returns at once.
  fake.arrive("COM3", "ab", 250);
  const DWORD start = fake.now();
  char buffer[8];
  DWORD n = 0;
  ASSERT_TRUE(fake.ReadFile(h, buffer, 8, &n));
  EXPECT_EQ(std::string(buffer, n), "ab");
  EXPECT_EQ(fake.now() - start, 250u);
  // A line error: reads and writes fail with 995 until ClearCommError.
  p.lineErrors = CE_FRAME;
  EXPECT_FALSE(fake.ReadFile(h, buffer, 1, &n));
  EXPECT_EQ(fake.GetLastError(), 995u);
  DWORD written = 0;
  EXPECT_FALSE(fake.WriteFile(h, "x", 1, &written));
  EXPECT_EQ(fake.GetLastError(), 995u);
  DWORD errors = 0;
  ASSERT_TRUE(fake.ClearCommError(h, &errors, nullptr));
  EXPECT_EQ(errors, static_cast<DWORD>(CE_FRAME));
  EXPECT_EQ(Write(fake, h, 1), 1u);
  COMMTIMEOUTS refused{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
  EXPECT_FALSE(fake.SetCommTimeouts(h, &refused));
  EXPECT_EQ(fake.GetLastError(), 87u);
  ASSERT_TRUE(fake.CloseHandle(h));
  // Kept for the next open, as the driver keeps them.
  h = Open(fake);
  ASSERT_TRUE(fake.GetCommTimeouts(h, &t));
  EXPECT_EQ(t.ReadTotalTimeoutConstant, MAXDWORD - 1);
  fake.CloseHandle(h);
}

TEST(FakeDevicePort, WritesTakeLineTimeAndWaitForFlowControl) {
  FakeDevice fake;
  FakePort& p = fake.addPort("COM3");
  p.dcb.BaudRate = 1200;
  HANDLE h = Open(fake);
  DWORD start = fake.now();
  EXPECT_EQ(Write(fake, h, 500), 500u);
  EXPECT_EQ(fake.now() - start, 4167u);  // 500 x 8.33 ms
  // Quillport's 1 ms a byte + 500 ms is shorter than the line: the write is cut.
  COMMTIMEOUTS t{0, 0, 0, 1, 500};
  ASSERT_TRUE(fake.SetCommTimeouts(h, &t));
  start = fake.now();
  EXPECT_EQ(Write(fake, h, 500), 119u);
  EXPECT_EQ(fake.now() - start, 1000u);
  EXPECT_EQ(p.writes.back().size(), 119u);
  // CTS flow with CTS low: nothing goes until the time-out ends the write...
  p.dcb.fOutxCtsFlow = TRUE;
  p.cts = false;
  EXPECT_EQ(Write(fake, h, 10), 0u);
  EXPECT_TRUE(fake.foreverWaits().empty());
  // ...and without one it would wait for ever.
  t = COMMTIMEOUTS{};
  ASSERT_TRUE(fake.SetCommTimeouts(h, &t));
  EXPECT_EQ(Write(fake, h, 10), 0u);
  ASSERT_EQ(fake.foreverWaits().size(), 1u);
  EXPECT_EQ(fake.foreverWaits()[0], "WriteFile COM3 10");
  p.cts = true;
  EXPECT_EQ(Write(fake, h, 10), 10u);
  fake.CloseHandle(h);
}

TEST(FakeDevicePort, APulledOutAdapterFailsUntilItsHandleIsClosed) {
  FakeDevice fake;
  fake.addPort("COM3");
  HANDLE h = Open(fake);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  fake.unplug("COM3");
  char buffer[4];
  DWORD n = 0;
  EXPECT_FALSE(fake.ReadFile(h, buffer, 1, &n));
  EXPECT_EQ(fake.GetLastError(), 22u);
  DCB dcb{};
  EXPECT_FALSE(fake.GetCommState(h, &dcb));
  EXPECT_FALSE(fake.SetCommState(h, &dcb));
  DWORD errors = 0;
  EXPECT_FALSE(fake.ClearCommError(h, &errors, nullptr));
  EXPECT_FALSE(fake.SetupComm(h, 4096, 4096));
  EXPECT_EQ(fake.GetLastError(), 22u);
  EXPECT_EQ(Open(fake), INVALID_HANDLE_VALUE);
  EXPECT_EQ(fake.GetLastError(), 2u);
  fake.plugIn("COM3");
  EXPECT_FALSE(fake.WriteFile(h, "x", 1, &n));  // the old handle never works again
  EXPECT_EQ(fake.GetLastError(), 22u);
  EXPECT_EQ(Open(fake), INVALID_HANDLE_VALUE);  // held for the stale handle
  EXPECT_EQ(fake.GetLastError(), 5u);
  EXPECT_TRUE(fake.CloseHandle(h));
  h = Open(fake);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(fake.GetCommState(h, &dcb));
  // Another removal code, as the test chooses.
  fake.unplug("COM3", 1167);
  COMMTIMEOUTS t{};
  EXPECT_FALSE(fake.GetCommTimeouts(h, &t));
  EXPECT_EQ(fake.GetLastError(), 1167u);
  EXPECT_TRUE(fake.CloseHandle(h));
  EXPECT_EQ(fake.openPortHandles(), 0);
}

}  // namespace
