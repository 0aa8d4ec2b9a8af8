// A simulated port as Windows code sees it: this test program's own imports
// are sent to it, as nbrun sends a plug-in's, and the calls below are plain
// Win32 calls. What the plug-ins never ask (a second open, other creation
// modes, refused settings, every kind of read time-out) is asked here.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "wire/simulated_ports.h"

namespace {

class SimulatedPort : public ::testing::Test {
 protected:
  void SetUp() override {
    const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(
        "answers end none\non \"B\" send \"x\" wait 2000 \"y\"\n");
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_TRUE(ports.add("COM12", parsed.device));
    ports.attach(GetModuleHandleA(nullptr));
  }

  static HANDLE Open(const char* name, DWORD creation = OPEN_EXISTING) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, creation, 0, nullptr);
  }
  static void Ask(HANDLE port) {
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(port, "B\r", 2, &n, nullptr));
    EXPECT_EQ(n, 2u);
  }
  // Reads up to `count` bytes under `timeouts`.
  static std::string Read(HANDLE port, COMMTIMEOUTS timeouts, DWORD count) {
    EXPECT_TRUE(SetCommTimeouts(port, &timeouts));
    char buffer[16];
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(port, buffer, count, &n, nullptr));
    return std::string(buffer, n);
  }

  nbdevice::SimulatedPorts ports;
};

TEST_F(SimulatedPort, OpensAndKeepsItsSettingsAsAWindowsPortDoes) {
  HANDLE port = Open("\\\\.\\COM12");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(Open("\\\\.\\com12"), INVALID_HANDLE_VALUE);  // not shared
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_EQ(GetFileType(port), static_cast<DWORD>(FILE_TYPE_CHAR));

  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  dcb.BaudRate = 28800;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.fOutxCtsFlow = TRUE;
  ASSERT_TRUE(SetCommState(port, &dcb));
  dcb.ByteSize = 9;
  SetLastError(0);
  EXPECT_FALSE(SetCommState(port, &dcb));
  EXPECT_EQ(GetLastError(), 87u);
  DCB back{};
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(back.BaudRate, 28800u);
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, EVENPARITY);
  EXPECT_TRUE(back.fOutxCtsFlow);

  ASSERT_TRUE(SetupComm(port, 16384, 2048));
  COMMPROP properties{};
  ASSERT_TRUE(GetCommProperties(port, &properties));
  EXPECT_EQ(properties.dwCurrentRxQueue, 16384u);
  EXPECT_EQ(properties.dwCurrentTxQueue, 2048u);
  COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  ASSERT_TRUE(CloseHandle(port));

  // The settings outlive the handle, the time-outs do not.
  EXPECT_EQ(Open("\\\\.\\COM12", CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 80u);
  port = Open("\\\\.\\COM12", OPEN_ALWAYS);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 183u);
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(back.BaudRate, 28800u);
  ASSERT_TRUE(GetCommTimeouts(port, &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout + timeouts.WriteTotalTimeoutConstant, 0u);
  CloseHandle(port);
}

// The device answers B with "x" at once and "y" two seconds later.
TEST_F(SimulatedPort, ReadsWaitAsTheTimeoutsSay) {
  HANDLE port = Open("\\\\.\\COM12");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  // At once with what is there.
  Ask(port);
  EXPECT_EQ(Read(port, {MAXDWORD, 0, 0, 0, 0}, 2), "x");
  // The first bytes to come: y, after its two seconds.
  EXPECT_EQ(Read(port, {MAXDWORD, MAXDWORD, 10000, 0, 0}, 2), "y");
  // All zero: until the count is in, however long that takes.
  Ask(port);
  COMSTAT status{};
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(port, &errors, &status));
  EXPECT_EQ(status.cbInQue, 1u);
  EXPECT_EQ(Read(port, {0, 0, 0, 0, 0}, 2), "xy");
  // A total or an interval time-out ends the wait before y comes.
  Ask(port);
  EXPECT_EQ(Read(port, {0, 0, 50, 0, 0}, 2), "x");
  Ask(port);
  EXPECT_EQ(Read(port, {50, 0, 0, 0, 0}, 2), "x");
  CloseHandle(port);
}

}  // namespace
