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
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "host/nbhost.h"
#include "scripted_peer.h"
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

// How long a stream of `bytes` may take: a minute, and more for long runs.
DWORD LimitMs(size_t bytes) { return 60000 + static_cast<DWORD>(bytes / 16); }

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
  // Calls `receive` until it reports `want` bytes or the time for them passed.
  template <class Receive>
  std::string collect(size_t want, Receive receive) {
    std::string got;
    for (const DWORD start = GetTickCount(); got.size() < want && GetTickCount() - start < LimitMs(want);) {
      receive(got);
      host.clearLog();  // the host's record of calls would fill memory
    }
    return got;
  }
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
  HANDLE peer = INVALID_HANDLE_VALUE;
};

TEST_F(SerialSoak, FileActionsCarryEveryByteValue) {
  const std::string data = Data(StreamBytes(1 << 20), false, 1);
  std::thread writer = feed(data, 2);
  const std::string path = scratch + "/rxf.bin";
  DeleteFileA(path.c_str());
  size_t size = 0;
  for (const DWORD start = GetTickCount(); size < data.size() && GetTickCount() - start < LimitMs(data.size());) {
    host.exec("wlCommRxF", "11," + path + ",5");
    ASSERT_EQ(var("wlCommErr"), " 0");
    size = ReadFileBytes(path).size();
  }
  writer.join();
  EXPECT_TRUE(ReadFileBytes(path) == data) << "wlCommRxF's file differs from the stream";

  const std::string second = Data(StreamBytes(1 << 18), false, 3);
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
  const std::string text = Data(StreamBytes(1 << 18), true, 5);
  std::thread writer = feed(text, 6);
  std::string got = collect(text.size(), [&](std::string& got) {
    host.exec("wlCommRxS", "11,0,s");
    got += var("s");
  });
  writer.join();
  EXPECT_TRUE(got == text) << "wlCommRxS";

  const std::string bytes = Data(StreamBytes(20000), true, 7);
  writer = feed(bytes, 8);
  got = collect(bytes.size(), [&](std::string& got) {
    host.variables().erase("b");
    host.exec("wlCommRxByte", "11,b,c");
    if (host.hasVariable("b")) got += var("b");
  });
  writer.join();
  EXPECT_TRUE(got == bytes) << "wlCommRxByte";

  const std::string lines = Data(StreamBytes(200000), true, 9);
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
  const std::string text = Data(StreamBytes(1 << 18), true, 11);
  std::string got;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    char buffer[65536];
    DWORD n = 0;
    for (const DWORD start = GetTickCount(); !done && GetTickCount() - start < LimitMs(text.size());) {
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
    host.clearLog();
    at += piece;
  }
  done = got.size() >= text.size();
  reader.join();
  EXPECT_TRUE(got == text) << got.size() << " of " << text.size() << " bytes";
}


// A loopback peer for one connection: feeds `data` in random pieces with
// random pauses and keeps everything the client sends. It runs on one
// thread over a non-blocking socket, so it stops when told to whatever the
// client does.
class TcpPeer {
 public:
  TcpPeer(const std::string& data, unsigned seed)
      : data_(data), random_(seed), listener_(tcptest::ListenOnLoopback(&port)) {
    thread_ = std::thread([this] { serve(); });
  }
  ~TcpPeer() {
    stop_ = true;
    thread_.join();
    closesocket(listener_);
  }
  std::string received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  size_t receivedSize() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_.size();
  }
  int port = 0;

 private:
  // Waits up to 5 ms for `s` to become readable, or writable when `write`;
  // returns which it became.
  static void wait(SOCKET s, bool write, bool& readable, bool& writable) {
    fd_set reads, writes;
    FD_ZERO(&reads);
    FD_ZERO(&writes);
    FD_SET(s, &reads);
    if (write) FD_SET(s, &writes);
    timeval limit = {0, 5000};
    readable = writable = false;
    if (select(0, &reads, write ? &writes : nullptr, nullptr, &limit) > 0) {
      readable = FD_ISSET(s, &reads);
      writable = write && FD_ISSET(s, &writes);
    }
  }
  void serve() {
    bool incoming = false, unused = false;
    while (!stop_ && !incoming) wait(listener_, false, incoming, unused);
    if (stop_) return;
    const SOCKET client = accept(listener_, nullptr, nullptr);
    u_long nonBlocking = 1;
    ioctlsocket(client, FIONBIO, &nonBlocking);
    size_t at = 0;
    bool open = true;
    char buffer[65536];
    while (!stop_) {
      if (!open) {
        Sleep(5);
        continue;
      }
      bool readable = false, writable = false;
      wait(client, at < data_.size(), readable, writable);
      if (readable) {
        const int n = recv(client, buffer, sizeof buffer, 0);
        if (n > 0) {
          std::lock_guard<std::mutex> lock(mutex_);
          received_.append(buffer, n);
        } else if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
          open = false;
        }
      }
      if (writable) {
        const int piece = static_cast<int>(std::min<size_t>(data_.size() - at, 1 + random_() % 3000));
        const int n = send(client, data_.data() + at, piece, 0);
        if (n > 0) at += n;
        if (random_() % 8 == 0) Sleep(random_() % 4);
      }
    }
    closesocket(client);
  }

  const std::string& data_;
  std::mt19937 random_;
  SOCKET listener_ = INVALID_SOCKET;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string received_;
  std::thread thread_;
};

class TcpSoak : public Soak {
 protected:
  void connect(const TcpPeer& peer) {
    host.exec("wlTCPopen", "127.0.0.1," + std::to_string(peer.port) + ",1024");
    ASSERT_EQ(var("wlTcpErr"), " 0");
  }
  void TearDown() override { host.exec("wlTCPclose", ""); }
};

// The lines of `text` that are not empty, each with its CR LF.
std::string NonEmptyLines(const std::string& text) {
  std::string kept;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) break;
    if (end > at) kept += text.substr(at, end - at + 2);
    at = end + 2;
  }
  return kept;
}

TEST_F(TcpSoak, FileActionsKeepEveryLine) {
  const std::string lines = Data(StreamBytes(1 << 20), true, 21);
  {
    TcpPeer peer(lines, 22);
    connect(peer);
    const std::string path = scratch + "/tcp-rxf.txt";
    // Each wlTCPrxF replaces its file and ends when the data runs out for a
    // moment (end flag) or the time-out passes (24).
    const std::string got = collect(lines.size(), [&](std::string& got) {
      host.exec("wlTCPrxF", path);
      ASSERT_TRUE(var("wlTcpErr") == " 0" || var("wlTcpErr") == " 24") << var("wlTcpErr");
      got += ReadFileBytes(path);
    });
    EXPECT_TRUE(got == lines) << "wlTCPrxF: " << got.size() << " of " << lines.size();
    host.exec("wlTCPclose", "");
  }
  // wlTCPrxFT appends one line a call; a call that timed out appends an
  // empty line, so empty lines are left out on both sides.
  const std::string few = Data(StreamBytes(1 << 16), true, 23);
  const std::string expected = NonEmptyLines(few);
  TcpPeer peer(few, 24);
  connect(peer);
  const std::string path = scratch + "/tcp-rxft.txt";
  DeleteFileA(path.c_str());
  size_t lineCount = 0;
  for (size_t at = few.find("\r\n"); at != std::string::npos; at = few.find("\r\n", at + 2)) {
    ++lineCount;
  }
  size_t received = 0;
  for (const DWORD start = GetTickCount(); received < lineCount && GetTickCount() - start < LimitMs(few.size());) {
    host.exec("wlTCPrxFT", path);
    if (var("wlTcpErr") == " 0") ++received;
    host.clearLog();
  }
  const std::string kept = NonEmptyLines(ReadFileBytes(path));
  EXPECT_TRUE(kept == expected) << "wlTCPrxFT: " << kept.size() << " of " << expected.size();
}

TEST_F(TcpSoak, LineAndByteReceivesLoseNothing) {
  const std::string lines = Data(StreamBytes(1 << 18), true, 25);
  {
    TcpPeer peer(lines, 26);
    connect(peer);
    const std::string got = collect(lines.size(), [&](std::string& got) {
      host.exec("wlTCPrxline", "v");
      if (var("wlTcpErr") == " 0") got += var("v") + "\r\n";
    });
    EXPECT_TRUE(got == lines) << "wlTCPrxline: " << got.size() << " of " << lines.size();
    host.exec("wlTCPclose", "");
  }
  const std::string bytes = Data(StreamBytes(20000), true, 27);
  TcpPeer peer(bytes, 28);
  connect(peer);
  const std::string got = collect(bytes.size(), [&](std::string& got) {
    host.exec("wlTCPrxbyte", "v");
    if (var("wlTcpErr") == " 0") got += var("v");
  });
  EXPECT_TRUE(got == bytes) << "wlTCPrxbyte: " << got.size() << " of " << bytes.size();
}

TEST_F(TcpSoak, SendsArriveWhole) {
  const std::string text = Data(StreamBytes(1 << 18), false, 29);
  const std::string nothing;
  TcpPeer peer(nothing, 30);
  connect(peer);
  std::mt19937 random(31);
  std::string expected;
  for (size_t at = 0; at < text.size();) {
    // A parameter text ends at its first NUL: pieces stop before one.
    size_t piece = std::min<size_t>(text.size() - at, 1 + random() % 3000);
    const size_t nul = text.find('\0', at);
    if (nul != std::string::npos && nul < at + piece) piece = nul - at;
    if (piece > 0) {
      const bool crlf = random() % 2 == 0;
      host.exec(crlf ? "wlTCPsendCRLF" : "wlTCPsend", text.substr(at, piece));
      ASSERT_EQ(var("wlTcpErr"), " 0");
      host.clearLog();
      expected += text.substr(at, piece) + (crlf ? "\r\n" : "");
    }
    at += piece + (piece == 0);
  }
  for (const DWORD start = GetTickCount();
       peer.receivedSize() < expected.size() && GetTickCount() - start < LimitMs(expected.size());) {
    Sleep(5);
  }
  const std::string received = peer.received();
  EXPECT_TRUE(received == expected) << received.size() << " of " << expected.size();
}

}  // namespace
