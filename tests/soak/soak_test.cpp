// Soak: streams in random segments with random pauses through a serial pty
// pair and a TCP connection, through every receive action and both send
// directions; what arrives is checked byte for byte against what was sent.
// WL_SOAK_BYTES sets the size of each stream (tools/soak.sh: 16 MiB).
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "host/nbhost.h"
#include "support/paths.h"

namespace {

size_t StreamBytes(size_t suiteDefault) {
  const char* size = std::getenv("WL_SOAK_BYTES");
  return size ? std::strtoul(size, nullptr, 10) : suiteDefault;
}

// Random data: any byte, or (for variables, which end at a NUL, and lines)
// printable text with CR LF line ends.
std::string Data(size_t n, bool lines, unsigned seed) {
  std::mt19937 random(seed);
  std::string data;
  while (data.size() < n) {
    if (!lines) {
      data += static_cast<char>(random() & 0xFF);
    } else if (random() % 60 == 0) {
      data += "\r\n";
    } else {
      data += static_cast<char>(' ' + random() % 95);
    }
  }
  if (lines) data += "\r\n";
  return data;
}

// Writes `data` to `send` in random pieces with random short pauses.
template <class Send>
std::thread Feeder(const std::string& data, unsigned seed, Send send) {
  return std::thread([&data, seed, send] {
    std::mt19937 random(seed);
    for (size_t at = 0; at < data.size();) {
      const size_t piece = std::min<size_t>(data.size() - at, 1 + random() % 3000);
      const size_t sent = send(data.data() + at, piece);
      if (sent == 0) return;
      at += sent;
      if (random() % 8 == 0) Sleep(random() % 4);
    }
  });
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.load(wltest::OutputFile("Wirelet.nbp"), &error)) << error;
    host.registerPlugIn();
    scratch = wltest::ScratchDir("soak");
  }
  std::string var(const char* name) { return host.variable(name); }
  nbhost::PlugIn host;
  std::string scratch;
};

class SerialSoak : public Soak {
 protected:
  void SetUp() override {
    Soak::SetUp();
    peer = CreateFileA("\\\\.\\COM111", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
    ASSERT_NE(peer, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS quick = {MAXDWORD, 0, 0, 0, 5000};
    SetCommTimeouts(peer, &quick);
    host.exec("wlCommOpenStd", "11,115200");
    ASSERT_EQ(var("wlCommErr"), " 0");
    host.exec("wlCommRxFlush", "11");
  }
  void TearDown() override {
    host.exec("wlCommClose", "11");
    CloseHandle(peer);
  }
  std::thread feed(const std::string& data, unsigned seed) {
    return Feeder(data, seed, [this](const char* p, size_t n) {
      DWORD written = 0;
      WriteFile(peer, p, static_cast<DWORD>(n), &written, nullptr);
      return static_cast<size_t>(written);
    });
  }
  // Calls `receive` until `want` bytes came or 60 s passed.
  template <class Receive>
  std::string collect(size_t want, Receive receive) {
    std::string got;
    for (const DWORD start = GetTickCount(); got.size() < want && GetTickCount() - start < 60000;) {
      receive(got);
    }
    return got;
  }
  HANDLE peer = INVALID_HANDLE_VALUE;
};

TEST_F(SerialSoak, FileActionsCarryEveryByteValue) {
  const std::string data = Data(StreamBytes(1 << 20), false, 1);
  std::thread writer = feed(data, 2);
  const std::string path = scratch + "/rxf.bin";
  DeleteFileA(path.c_str());
  size_t size = 0;
  for (const DWORD start = GetTickCount(); size < data.size() && GetTickCount() - start < 60000;) {
    host.exec("wlCommRxF", "11," + path + ",5");
    ASSERT_EQ(var("wlCommErr"), " 0");
    size = ReadFileBytes(path).size();
  }
  writer.join();
  EXPECT_TRUE(ReadFileBytes(path) == data) << "wlCommRxF's file differs from the stream";

  const std::string second = Data(StreamBytes(1 << 20) / 4, false, 3);
  writer = feed(second, 4);
  const std::string record = scratch + "/rx.txt";
  const std::string got = collect(second.size(), [&](std::string& got) {
    host.exec("wlCommRx", "11," + record + ",n");
    const std::string file = ReadFileBytes(record);
    ASSERT_GE(file.size(), 4u);
    got += file.substr(1, file.size() - 4);  // between the quotes, before CR LF
    EXPECT_EQ(std::to_string(file.size() - 4), var("n").substr(1));
  });
  writer.join();
  EXPECT_TRUE(got == second) << "wlCommRx's records differ from the stream";
}

TEST_F(SerialSoak, StringByteAndLineReceivesLoseNothing) {
  const std::string text = Data(StreamBytes(1 << 20) / 4, true, 5);
  std::thread writer = feed(text, 6);
  std::string got = collect(text.size(), [&](std::string& got) {
    host.exec("wlCommRxS", "11,0,s");
    got += var("s");
  });
  writer.join();
  EXPECT_TRUE(got == text) << "wlCommRxS";

  const std::string bytes = Data(20000, true, 7);
  writer = feed(bytes, 8);
  got = collect(bytes.size(), [&](std::string& got) {
    host.variables().erase("b");
    host.exec("wlCommRxByte", "11,b,c");
    if (host.hasVariable("b")) got += var("b");
  });
  writer.join();
  EXPECT_TRUE(got == bytes) << "wlCommRxByte";

  const std::string lines = Data(200000, true, 9);
  writer = feed(lines, 10);
  std::string expected;  // CR ends a line; the LF after it is dropped
  for (char c : lines) {
    if (c != '\n') expected += c;
  }
  got = collect(expected.size(), [&](std::string& got) {
    host.exec("wlCommRxLine", "11,l,100");
    got += var("l") + "\r";
  });
  writer.join();
  EXPECT_TRUE(got == expected) << "wlCommRxLine";
}

TEST_F(SerialSoak, SendsArriveWhole) {
  const std::string text = Data(StreamBytes(1 << 20) / 4, true, 11);
  std::string got;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    char buffer[65536];
    DWORD n = 0;
    for (const DWORD start = GetTickCount(); !done && GetTickCount() - start < 60000;) {
      if (ReadFile(peer, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        got.append(buffer, n);
      } else if (got.size() >= text.size()) {
        break;
      } else {
        Sleep(1);
      }
    }
  });
  std::mt19937 random(12);
  for (size_t at = 0; at < text.size();) {
    // Bars, commas and quotes are field syntax: pieces hold none of them,
    // which go one by one as codes.
    size_t piece = std::min<size_t>(text.size() - at, 1 + random() % 2000);
    const size_t stop = text.find_first_of(",\"|", at);
    if (stop != std::string::npos && stop < at + piece) piece = stop - at;
    if (piece == 0) {
      host.exec("wlCommSendASCII", "11," + std::to_string(static_cast<unsigned char>(text[at])));
      ++at;
      continue;
    }
    host.exec("wlCommSendSpecial", "11|" + text.substr(at, piece));
    ASSERT_EQ(var("wlCommErr"), " 0");
    at += piece;
  }
  done = got.size() >= text.size();
  reader.join();
  EXPECT_TRUE(got == text) << got.size() << " of " << text.size() << " bytes";
}

}  // namespace
