// Benchmarks: each figure of the plug-in measured beside its limit (the bare
// system calls doing the same work) in the same run, with the ratio. Run
// under Wine by tools/bench.sh on the rig's pty pairs COM1/COM101 and
// COM2/COM102 and a loopback server of its own.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using ExecFn = int(__stdcall*)(int, const char* const*);
ExecFn exec = nullptr;
std::string lastValue, tcpErr, received;
extern "C" void __stdcall SetVariable(const char* name, const char* value) {
  lastValue = value ? value : "";
  if (name && std::string(name) == "wlTcpErr") tcpErr = lastValue;
  if (name && std::string(name) == "s") received = lastValue;
}
extern "C" void __stdcall AddAction(const char*, const char*, const char*, int, int) {}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

// Seconds of processor time the calling thread has had (user and kernel):
// unlike the wall clock, it leaves out the time other programs took the
// cores. Counted in ticks of the system timer.
double ThreadSeconds() {
  FILETIME created, ended, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  auto seconds = [](const FILETIME& f) {
    return static_cast<double>((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
}

int Run(int number, const std::string& text) {
  const char* list[1] = {text.c_str()};
  return exec(number, list);
}

// Rounds of each figure within one run: the two sides of a figure take
// turns, so a burst of load from elsewhere falls on both.
int rounds = 7;

struct Spread {
  double least, median, most;
};

Spread SpreadOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return {values.front(), median, values.back()};
}

// One figure: the plug-in's and the limit's value of each round.
struct Figure {
  std::vector<double> plugIn, limit;
  void add(double p, double l) {
    plugIn.push_back(p);
    limit.push_back(l);
  }
  std::vector<double> ratios() const {
    std::vector<double> r;
    for (size_t i = 0; i < plugIn.size(); ++i) r.push_back(plugIn[i] / limit[i]);
    return r;
  }
};

void PrintSpread(const char* side, const std::vector<double>& values, const char* unit) {
  const Spread s = SpreadOf(values);
  std::printf("    %-8s min %9.3f  median %9.3f  max %9.3f %s\n", side, s.least, s.median, s.most,
              unit);
}

void Row(const char* what, const Figure& figure, const char* unit, const char* goal) {
  std::printf("%s   (goal: ratio %s, %zu rounds)\n", what, goal, figure.plugIn.size());
  PrintSpread("plug-in", figure.plugIn, unit);
  PrintSpread("limit", figure.limit, unit);
  PrintSpread("ratio", figure.ratios(), "");
}

double Median(const std::vector<double>& values) { return SpreadOf(values).median; }

HANDLE OpenPort(const char* name) {
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  COMMTIMEOUTS quick = {MAXDWORD, 0, 0, 0, 5000};
  SetCommTimeouts(h, &quick);
  return h;
}

// Reads and drops everything arriving at `port` until told to stop.
struct Drain {
  std::atomic<bool> stop{false};
  std::thread thread;
  explicit Drain(HANDLE port) {
    thread = std::thread([this, port] {
      static char buffer[65536];
      DWORD n = 0;
      while (!stop) {
        if (!ReadFile(port, buffer, sizeof buffer, &n, nullptr) || n == 0) Sleep(0);
      }
    });
  }
  ~Drain() {
    stop = true;
    thread.join();
  }
};

// Committed private memory of the process, by walking its address space
// (Wine reports no private-usage counter).
size_t PrivateBytes() {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION region;
  for (char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
       at = static_cast<char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    if (static_cast<char*>(region.BaseAddress) + region.RegionSize < at) break;
  }
  return total;
}

// A loopback server that sends `lines` lines of 78 bytes + CR LF to one client, then closes.
struct LineServer {
  SOCKET listener;
  int port = 0;
  std::thread thread;
  explicit LineServer(size_t lines) {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    listen(listener, 1);
    thread = std::thread([this, lines] {
      SOCKET client = accept(listener, nullptr, nullptr);
      std::string block;
      const std::string line = std::string(78, 'x') + "\r\n";
      for (int i = 0; i < 800; ++i) block += line;
      for (size_t sent = 0; sent < lines; sent += 800) {
        const char* p = block.data();
        size_t left = block.size();
        while (left > 0) {
          const int n = send(client, p, static_cast<int>(left), 0);
          if (n <= 0) break;
          p += n;
          left -= static_cast<size_t>(n);
        }
      }
      closesocket(client);
    });
  }
  ~LineServer() {
    thread.join();
    closesocket(listener);
  }
};

SOCKET Connect(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return s;
}

// Microseconds one call of `body` takes, over `n` calls.
template <class Body>
double PerCall(int n, Body body) {
  const double t = Now();
  for (int i = 0; i < n; ++i) body();
  return (Now() - t) / n * 1e6;
}

// A system call as the device layer must make it: under a process-wide
// lock, with the error mode set and restored and the last error cleared and
// read.
class GuardedCalls {
 public:
  GuardedCalls() { InitializeCriticalSection(&lock_); }
  ~GuardedCalls() { DeleteCriticalSection(&lock_); }
  template <class Call>
  void operator()(Call call) {
    EnterCriticalSection(&lock_);
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    SetLastError(0);
    call();
    GetLastError();
    SetErrorMode(previous);
    LeaveCriticalSection(&lock_);
  }

 private:
  CRITICAL_SECTION lock_;
};

// Microseconds a call of `a` and of `b` take in their quietest batch: the
// two take turns in `batches` batches of `n` calls each, and the least of
// each side is kept, so that a batch another program's work fell on does
// not count (on a loaded machine the average of one long run measures the
// load as much as the calls).
template <class A, class B>
std::pair<double, double> QuietestBatches(int batches, int n, A a, B b) {
  double leastA = 1e30, leastB = 1e30;
  for (int k = 0; k < batches; ++k) {
    leastA = std::min(leastA, PerCall(n, a));
    leastB = std::min(leastB, PerCall(n, b));
  }
  return {leastA, leastB};
}

// The two host callbacks wlCommRxCount makes: the count into the named
// variable, then wlCommErr.
void RxCountCallbacks() {
  SetVariable("n", " 0");
  SetVariable("wlCommErr", " 0");
}

void BenchActionCost() {
  const int n = 20000;
  Figure figure, quiet;
  std::vector<double> early, closed, bare, wrapped, callbacks;
  for (int round = 0; round < rounds; ++round) {
    Run(2, "1,115200");
    const double action = PerCall(n, [] { Run(17, "1,n"); });
    // Where the time goes: the action ending at its field count (the host
    // boundary and the parameter text only), and on a port that is not open
    // (everything but the device call, both variables published).
    early.push_back(PerCall(n, [] { Run(17, ""); }));
    closed.push_back(PerCall(n, [] { Run(17, "5,n"); }));
    Run(3, "1");
    HANDLE port = OpenPort("COM1");
    DWORD errors;
    COMSTAT status;
    bare.push_back(PerCall(n, [&] { ClearCommError(port, &errors, &status); }));
    // The limit: the bare call as the device layer must make it (under a
    // lock, with the error mode set and restored and the last error cleared
    // and read), and the two host callbacks the action must make.
    GuardedCalls guard;
    auto guarded = [&] { guard([&] { ClearCommError(port, &errors, &status); }); };
    wrapped.push_back(PerCall(n, guarded));
    callbacks.push_back(PerCall(n, RxCountCallbacks));
    const double limit = PerCall(n, [&] {
      guarded();
      RxCountCallbacks();
    });
    CloseHandle(port);
    // The same two in turns in short batches, the limit on the rig's other
    // pty (the plug-in holds COM1 for itself).
    Run(2, "1,115200");
    port = OpenPort("COM2");
    const auto batches = QuietestBatches(
        40, 1000, [] { Run(17, "1,n"); },
        [&] {
          guarded();
          RxCountCallbacks();
        });
    quiet.add(batches.first, batches.second);
    CloseHandle(port);
    figure.add(action, limit);
  }
  Run(2, "1,115200");
  Row("1 one action: wlCommRxCount on an open pty vs the wrapped ClearCommError and two callbacks, us",
      figure, "us", "<= 1.25");
  std::printf("    the quietest of 40 batches of 1000 calls each, the two sides in turns (the limit on COM2):\n");
  PrintSpread("plug-in", quiet.plugIn, "us");
  PrintSpread("limit", quiet.limit, "us");
  PrintSpread("ratio", quiet.ratios(), "");
  std::printf("    medians: ending at its field count %.3f us; on a port not open %.3f us;\n"
              "    bare ClearCommError %.3f us, wrapped as the device layer makes it %.3f us; "
              "two host callbacks %.3f us\n",
              Median(early), Median(closed), Median(bare), Median(wrapped), Median(callbacks));
}

// Takes what waits on the plug-in's side of the pair (left by the receive
// figures of an earlier run): socat stops both directions while one side is
// full, which would hold every send.
void DrainPlugInSide() {
  Run(3, "1");
  HANDLE port = OpenPort("COM1");
  {
    Drain drain(port);
    Sleep(300);
  }
  CloseHandle(port);
  Run(2, "1,115200");
}

void BenchSerialSend() {
  DrainPlugInSide();
  HANDLE peer = OpenPort("\\\\.\\COM101");
  const std::string text(4096, 'd');
  const std::string parameters = "1," + text;
  const int n = 1000;
  Figure figure;
  std::vector<double> state;
  for (int round = 0; round < rounds; ++round) {
    double action, bare;
    {
      Drain drain(peer);
      const double t = Now();
      for (int i = 0; i < n; ++i) Run(7, parameters);
      action = n * 4096.0 / (Now() - t) / 1e6;
    }
    Run(3, "1");
    HANDLE port = OpenPort("COM1");
    {
      Drain drain(peer);
      const double t = Now();
      DWORD written;
      for (int i = 0; i < n; ++i) WriteFile(port, text.data(), 4096, &written, nullptr);
      bare = n * 4096.0 / (Now() - t) / 1e6;
    }
    // The device layer reads the port's state before a write whose port
    // time-outs leave it unbounded, for the write bound.
    state.push_back(PerCall(200, [&] {
      DCB dcb{};
      dcb.DCBlength = sizeof dcb;
      GetCommState(port, &dcb);
    }));
    CloseHandle(port);
    Run(2, "1,115200");
    figure.add(action, bare);
  }
  CloseHandle(peer);
  Row("2 wlCommSend of 4 KiB texts to a draining pty vs WriteFile of 4 KiB, MB/s", figure, "MB/s",
      ">= 0.9");
  std::printf("    medians per send: plug-in %.1f us, bare write %.1f us; GetCommState %.1f us\n",
              4096.0 / Median(figure.plugIn), 4096.0 / Median(figure.limit), Median(state));
}

size_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info);
  return info.nFileSizeLow;
}

// Writes to the pty's other end as fast as it takes bytes, until stopped.
struct Feed {
  std::atomic<bool> stop{false};
  std::thread thread;
  explicit Feed(HANDLE peer) {
    thread = std::thread([this, peer] {
      const std::string chunk(4096, 'r');
      DWORD written;
      while (!stop) WriteFile(peer, chunk.data(), 4096, &written, nullptr);
    });
  }
  ~Feed() {
    stop = true;
    thread.join();
  }
};

// MB/s of the calls wlCommRxF must make for each poll, made bare (each as
// the device layer must make it) from the feeding peer into a file until
// `total` bytes are in: the query; when bytes wait, the read's own query
// (the port's time-outs would let a read wait for ever), the read, the
// append's GetFileSize and SetFilePointer and its WriteFile, then the 1 ms
// sleep after a piece; then the pause, Sleep(0).
double MandatedPolls(HANDLE port, HANDLE peer, const std::string& path, size_t total) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  GuardedCalls guard;
  static char buffer[65536];
  size_t got = 0;
  const double t = Now();
  {
    Feed feed(peer);
    while (got < total && Now() - t < 10) {
      DWORD errors, n = 0;
      COMSTAT status{};
      guard([&] { ClearCommError(port, &errors, &status); });
      if (status.cbInQue > 0) {
        guard([&] { ClearCommError(port, &errors, &status); });
        guard([&] { ReadFile(port, buffer, status.cbInQue, &n, nullptr); });
        guard([&] {
          DWORD high = 0;
          const DWORD low = GetFileSize(file, &high);
          LONG distanceHigh = static_cast<LONG>(high);
          SetFilePointer(file, static_cast<LONG>(low), &distanceHigh, FILE_BEGIN);
        });
        DWORD written = 0;
        guard([&] { WriteFile(file, buffer, n, &written, nullptr); });
        got += n;
        Sleep(1);
      }
      Sleep(0);
    }
  }
  const double rate = got / (Now() - t) / 1e6;
  CloseHandle(file);
  DeleteFileA(path.c_str());
  return rate;
}

// Serial receive from a peer writing as fast as the pty takes bytes: 2 MiB
// (or 10 s) each way a round. A pty moves data at memory speed, so the bare
// loop (ClearCommError, then ReadFile of what is waiting) is the limit.
void BenchSerialReceive() {
  HANDLE peer = OpenPort("\\\\.\\COM101");
  COMMTIMEOUTS writes = {MAXDWORD, 0, 0, 0, 200};
  SetCommTimeouts(peer, &writes);
  // Bytes the send figure left on their way to the peer would stall the
  // pair: socat forwards both directions on one thread, and blocks on a
  // full side. Take them first.
  {
    Drain drain(peer);
    Sleep(300);
  }
  const size_t total = 2 << 20;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "wl-bench-rxf.bin";
  Figure rxsFigure, rxfFigure, mandatedFigure;
  std::vector<double> allowedShare, mandatedShare, sleeps;
  int calls = 0;
  for (int round = 0; round < rounds; ++round) {
    Run(16, "1");
    size_t got = 0;
    double t = Now();
    {
      Feed feed(peer);
      // wlCommRxS with count 0 takes everything waiting.
      while (got < total && Now() - t < 10) {
        Run(12, "1,0,s");
        got += received.size();
      }
    }
    const double rxs = got / (Now() - t) / 1e6;
    Run(16, "1");
    // wlCommRxF with pause 0 appends while each poll finds data; it ends at
    // the first poll that finds none, so a stream takes several calls.
    DeleteFileA(path.c_str());
    calls = 0;
    t = Now();
    {
      Feed feed(peer);
      for (; FileSize(path) < total && Now() - t < 10; ++calls) Run(14, "1," + path + ",0");
    }
    const double rxf = FileSize(path) / (Now() - t) / 1e6;
    DeleteFileA(path.c_str());
    Run(3, "1");
    HANDLE port = OpenPort("COM1");
    got = 0;
    t = Now();
    {
      Feed feed(peer);
      static char buffer[65536];
      while (got < total && Now() - t < 10) {
        DWORD errors, n = 0;
        COMSTAT status;
        ClearCommError(port, &errors, &status);
        if (status.cbInQue && ReadFile(port, buffer, status.cbInQue, &n, nullptr)) got += n;
      }
    }
    const double bare = got / (Now() - t) / 1e6;
    const double mandated = MandatedPolls(port, peer, path, total);
    CloseHandle(port);
    Run(2, "1,115200");
    rxsFigure.add(rxs, bare);
    rxfFigure.add(rxf, bare);
    mandatedFigure.add(rxf, mandated);
    // wlCommRxF must sleep 1 ms after each piece it appends and then its
    // pause (Sleep(0) for pause 0), and a pty reports at most 4095 bytes
    // waiting, so the pauses allow 4095 bytes a poll.
    const double sleep = PerCall(100, [] {
      Sleep(1);
      Sleep(0);
    }) / 1e3;
    sleeps.push_back(sleep);
    allowedShare.push_back(rxf / (4095 / sleep / 1e3));
    mandatedShare.push_back(mandated / (4095 / sleep / 1e3));
  }
  CloseHandle(peer);
  DrainPlugInSide();
  Row("5a wlCommRxS (count 0: all waiting) vs ClearCommError + ReadFile, MB/s", rxsFigure, "MB/s",
      "report");
  Row("5b wlCommRxF (pause 0) vs ClearCommError + ReadFile, MB/s", rxfFigure, "MB/s", "report");
  const Spread share = SpreadOf(allowedShare);
  std::printf("    wlCommRxF against what its pauses allow (4095 bytes a poll, Sleep(1) and Sleep(0) take %.2f ms "
              "at the median):\n    min %.0f%%  median %.0f%%  max %.0f%%  (%d calls in the last round; "
              "goal >= 95%%)\n",
              Median(sleeps), 100 * share.least, 100 * share.median, 100 * share.most, calls);
  Row("5b wlCommRxF (pause 0) vs its mandated calls and sleeps made bare, MB/s", mandatedFigure,
      "MB/s", "report");
  const Spread bareShare = SpreadOf(mandatedShare);
  std::printf("    the mandated calls and sleeps alone against what the pauses allow: min %.0f%%  "
              "median %.0f%%  max %.0f%%\n",
              100 * bareShare.least, 100 * bareShare.median, 100 * bareShare.most);
}

// Waits for readable data as the actions must before each receive: a
// select bounded by the connection's time-out (5 s here).
bool WaitReadable(SOCKET s) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval limit = {5, 0};
  return select(0, &readable, nullptr, nullptr, &limit) == 1;
}

struct BareReceive {
  double megabytesPerSecond;
  size_t receives, bytes;
  double cpuSeconds;  // of the receiving thread
};

// The limit of figure 3: a line server's stream received into a file by
// bare calls, with or without a wait for readable data (a select, as the
// actions make with the connection's time-out) before each receive.
BareReceive BareReceiveToFile(size_t lines, const std::string& path, bool wait) {
  LineServer server(lines);
  SOCKET s = Connect(server.port);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  static char buffer[65536];
  BareReceive result{0, 0, 0, 0};
  const double cpu = ThreadSeconds();
  const double t = Now();
  for (;;) {
    if (wait && !WaitReadable(s)) break;
    const int n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    DWORD written;
    WriteFile(file, buffer, static_cast<DWORD>(n), &written, nullptr);
    result.bytes += static_cast<size_t>(n);
    ++result.receives;
  }
  result.megabytesPerSecond = static_cast<double>(result.bytes) / (Now() - t) / 1e6;
  result.cpuSeconds = ThreadSeconds() - cpu;
  CloseHandle(file);
  closesocket(s);
  return result;
}

// wlTCPrxF ends where the sender pauses (a receive that found less than it
// had room for), so a stream takes many calls; each replaces the file.
// MB/s over the bytes the files received.
double PlugInReceiveToFile(size_t lines, const std::string& path, int& calls, double& cpuSeconds) {
  LineServer server(lines);
  Run(20, "127.0.0.1," + std::to_string(server.port) + ",5000");
  const double cpu = ThreadSeconds();
  const double t = Now();
  double bytes = 0;
  calls = 0;
  do {
    Run(26, path);
    ++calls;
    bytes += static_cast<double>(FileSize(path));
  } while (tcpErr == " 0" && bytes < lines * 80.0);
  const double rate = bytes / (Now() - t) / 1e6;
  cpuSeconds = ThreadSeconds() - cpu;
  Run(21, "");
  return rate;
}

// Millions of lines a second through wlTCPrxline.
double PlugInLines(size_t lines) {
  LineServer server(lines);
  Run(20, "127.0.0.1," + std::to_string(server.port) + ",5000");
  const double t = Now();
  for (size_t i = 0; i < lines; ++i) Run(25, "v");
  const double rate = lines / (Now() - t) / 1e6;
  Run(21, "");
  return rate;
}

// The limit of figure 4: the stream split into lines in memory, each line
// copied once and handed to the host with the two status variables through
// the same callback the plug-in calls, with the wait before each receive.
class BareLineReader {
 public:
  explicit BareLineReader(SOCKET s) : s_(s) {}
  // Takes up to `count` lines; fewer when the stream ends. How many it took.
  size_t take(size_t count) {
    size_t taken = 0;
    while (taken < count) {
      const size_t end = pending_.find("\r\n", start_);
      if (end == std::string::npos) {
        pending_.erase(0, start_);
        start_ = 0;
        int n = 0;
        if (!WaitReadable(s_) || (n = recv(s_, buffer_, sizeof buffer_, 0)) <= 0) break;
        pending_.append(buffer_, static_cast<size_t>(n));
        continue;
      }
      line_.assign(pending_, start_, end - start_);
      SetVariable("v", line_.c_str());
      SetVariable("wlTcpErr", " 0");
      SetVariable("wlTcpEof", " 0");
      start_ = end + 2;
      ++taken;
    }
    return taken;
  }

 private:
  SOCKET s_;
  char buffer_[65536];
  std::string pending_, line_;
  size_t start_ = 0;
};

double BareLines(size_t lines) {
  LineServer server(lines);
  SOCKET s = Connect(server.port);
  auto reader = std::make_unique<BareLineReader>(s);
  const double t = Now();
  const size_t count = reader->take(lines);
  const double rate = count / (Now() - t) / 1e6;
  closesocket(s);
  return rate;
}

// Figure 4 as the quietest of short batches, the plug-in's connection and
// the bare one (each to a server of its own) taking turns: M lines/s of each.
std::pair<double, double> QuietLines(int batches, int batchLines) {
  const size_t lines = static_cast<size_t>(batches) * batchLines + 1000;
  LineServer plugInServer(lines), bareServer(lines);
  Run(20, "127.0.0.1," + std::to_string(plugInServer.port) + ",5000");
  SOCKET s = Connect(bareServer.port);
  auto reader = std::make_unique<BareLineReader>(s);
  const auto perLine = QuietestBatches(
      batches, batchLines, [] { Run(25, "v"); }, [&] { reader->take(1); });
  Run(21, "");
  closesocket(s);
  return {1 / perLine.first, 1 / perLine.second};
}

void BenchTcp() {
  const size_t lines = (64u << 20) / 80;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "wl-bench-rxf.txt";
  const size_t before = PrivateBytes();
  Figure file, lineFigure, quietLines, cpu, withFiles;
  std::vector<double> plain, receiveSizes;
  int calls = 0;
  for (int round = 0; round < rounds; ++round) {
    double rxfCpu = 0;
    const double rxf = PlugInReceiveToFile(lines, path, calls, rxfCpu);
    const BareReceive waited = BareReceiveToFile(lines, path, true);
    cpu.add(rxfCpu, waited.cpuSeconds);
    plain.push_back(BareReceiveToFile(lines, path, false).megabytesPerSecond);
    receiveSizes.push_back(static_cast<double>(waited.bytes) / static_cast<double>(waited.receives));
    file.add(rxf, waited.megabytesPerSecond);
    const size_t few = 200000;
    lineFigure.add(PlugInLines(few), BareLines(few));
    const auto quiet = QuietLines(40, 2000);
    quietLines.add(quiet.first, quiet.second);
    // The limit with the file work of as many calls as the plug-in made
    // (each must open, empty and close its file) added to its time.
    const double fileCall = PerCall(20, [&] { Run(26, path); }) / 1e6;
    const double limitSeconds = lines * 80.0 / 1e6 / waited.megabytesPerSecond;
    withFiles.add(rxf, lines * 80.0 / 1e6 / (limitSeconds + calls * fileCall));
  }
  const size_t after = PrivateBytes();
  const std::string lastError = tcpErr;
  // Each call opens and empties its file and closes it: what that costs
  // alone, on no connection.
  const double fileOnly = PerCall(200, [&] { Run(26, path); });
  DeleteFileA(path.c_str());
  Row("3 wlTCPrxF of 64 MiB of 80-byte lines vs select + recv + WriteFile, MB/s", file, "MB/s",
      ">= 0.8");
  std::printf("    bare recv + WriteFile without the select: median %.1f MB/s; the bare loop's "
              "receives take %.0f bytes at the median;\n    %d wlTCPrxF calls in the last round "
              "(last wlTcpErr \"%s\"), each opening, emptying and closing its file: %.0f us a call "
              "on no connection\n",
              Median(plain), Median(receiveSizes), calls, lastError.c_str(), fileOnly);
  std::printf("    processor time of the receiving thread, s (its own work, whatever the load):\n");
  PrintSpread("plug-in", cpu.plugIn, "s");
  PrintSpread("limit", cpu.limit, "s");
  PrintSpread("ratio", cpu.ratios(), "");
  std::printf("    the limit with the plug-in's calls' own file work (open, empty, close) added:\n");
  PrintSpread("plug-in", withFiles.plugIn, "MB/s");
  PrintSpread("limit", withFiles.limit, "MB/s");
  PrintSpread("ratio", withFiles.ratios(), "");
  Row("4 wlTCPrxline vs bare line splitting with the same select and callbacks, M lines/s",
      lineFigure, "M lines/s", ">= 0.8");
  std::printf("    the quietest of 40 batches of 2000 lines each, the two sides in turns:\n");
  PrintSpread("plug-in", quietLines.plugIn, "M lines/s");
  PrintSpread("limit", quietLines.limit, "M lines/s");
  PrintSpread("ratio", quietLines.ratios(), "");
  std::printf("6 memory: private bytes %zu KiB before the first 64 MiB transfer, %zu KiB after "
              "the last (growth %lld KiB; one heap step is 64 KiB)\n",
              before / 1024, after / 1024,
              static_cast<long long>(after / 1024) - static_cast<long long>(before / 1024));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench PLUGIN.nbp [ROUNDS [FIGURES]]\n");
    return 2;
  }
  HMODULE plugIn = LoadLibraryA(argv[1]);
  if (plugIn == nullptr) return 2;
  auto registerPlugIn = reinterpret_cast<void(__stdcall*)(void*, void*, void*, void*)>(
      reinterpret_cast<void*>(GetProcAddress(plugIn, "_nbRegisterPlugIn@16")));
  exec = reinterpret_cast<ExecFn>(reinterpret_cast<void*>(GetProcAddress(plugIn, "_nbExecAction@8")));
  registerPlugIn(reinterpret_cast<void*>(AddAction), nullptr, nullptr,
                 reinterpret_cast<void*>(SetVariable));
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  if (argc > 2) rounds = std::max(1, std::atoi(argv[2]));
  std::printf("each figure in %d rounds; the limit is the bare system calls doing the same work\n",
              rounds);
  // A third argument picks figures: 1, 2, 5 (5a and 5b), 3 (3, 4 and 6).
  const std::string only = argc > 3 ? argv[3] : "1253";
  if (only.find('1') != std::string::npos) BenchActionCost();
  if (only.find('2') != std::string::npos) BenchSerialSend();
  if (only.find('5') != std::string::npos) BenchSerialReceive();
  if (only.find('3') != std::string::npos) BenchTcp();
  return 0;
}
