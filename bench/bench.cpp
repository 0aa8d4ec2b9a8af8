// Benchmarks: each figure of the plug-in measured beside its limit (the bare
// system calls doing the same work) in the same run, with the ratio. Run
// under Wine by tools/bench.sh on the rig's pty pairs COM1/COM101 and
// COM2/COM102 and a loopback server of its own.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

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

int Run(int number, const std::string& text) {
  const char* list[1] = {text.c_str()};
  return exec(number, list);
}

void Row(const char* what, double plugIn, double bare, const char* unit, const char* goal) {
  std::printf("%-44s %12.2f %12.2f %s   ratio %.2f   (goal %s)\n", what, plugIn, bare, unit,
              plugIn / bare, goal);
}

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

void BenchActionCost() {
  const int n = 50000;
  Run(2, "1,115200");
  const double action = PerCall(n, [] { Run(17, "1,n"); });
  // Where the time goes: the action ending at its field count (the host
  // boundary and the parameter text only), and on a port that is not open
  // (everything but the device call, both variables published).
  const double early = PerCall(n, [] { Run(17, ""); });
  const double closed = PerCall(n, [] { Run(17, "5,n"); });
  Run(3, "1");
  HANDLE port = OpenPort("COM1");
  DWORD errors;
  COMSTAT status;
  const double bare = PerCall(n, [&] { ClearCommError(port, &errors, &status); });
  // The bare call as the device layer makes it: under a lock, with the
  // error mode set and restored and the last error cleared and read.
  CRITICAL_SECTION lock;
  InitializeCriticalSection(&lock);
  const double wrapped = PerCall(n, [&] {
    EnterCriticalSection(&lock);
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    SetLastError(0);
    ClearCommError(port, &errors, &status);
    GetLastError();
    SetErrorMode(previous);
    LeaveCriticalSection(&lock);
  });
  DeleteCriticalSection(&lock);
  CloseHandle(port);
  Run(2, "1,115200");
  Row("1 one action (wlCommRxCount), us", action, bare, "us", "<= 1.5");
  std::printf("    of which: ending at its field count %.2f us; on a port not open %.2f us;\n"
              "    the bare call wrapped as the device layer makes it %.2f us\n",
              early, closed, wrapped);
}

void BenchSerialSend() {
  HANDLE peer = OpenPort("\\\\.\\COM101");
  const std::string text(4096, 'd');
  const int n = 2000;
  double action, bare;
  {
    Drain drain(peer);
    const std::string parameters = "1," + text;
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
  // The device layer reads the port's state before each write for the
  // write bound (the line time of the bytes at the port's rate).
  const double state = PerCall(n, [&] {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
  });
  CloseHandle(port);
  CloseHandle(peer);
  Run(2, "1,115200");
  Row("2 serial send of 4 KiB texts, MB/s", action, bare, "MB/s", ">= 0.9 (higher is better)");
  std::printf("    per send: plug-in %.1f us, bare write %.1f us; of which GetCommState %.1f us\n",
              4096.0 / action, 4096.0 / bare, state);
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

// Serial receive from a peer writing as fast as the pty takes bytes: 8 MiB
// (or 20 s) each way. A pty moves data at memory speed, so the bare loop
// (ClearCommError, then ReadFile of what is waiting) is the limit.
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
  const size_t total = 8 << 20;
  Run(16, "1");
  size_t got = 0;
  double t = Now();
  {
    Feed feed(peer);
    // wlCommRxS with count 0 takes everything waiting.
    while (got < total && Now() - t < 20) {
      Run(12, "1,0,s");
      got += received.size();
    }
  }
  const double rxs = got / (Now() - t) / 1e6;
  Run(16, "1");
  // wlCommRxF with pause 0 appends while each poll finds data; it ends at
  // the first poll that finds none, so a stream takes several calls.
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "wl-bench-rxf.bin";
  DeleteFileA(path.c_str());
  int calls = 0;
  t = Now();
  {
    Feed feed(peer);
    for (; FileSize(path) < total && Now() - t < 20; ++calls) Run(14, "1," + path + ",0");
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
    while (got < total && Now() - t < 20) {
      DWORD errors, n = 0;
      COMSTAT status;
      ClearCommError(port, &errors, &status);
      if (status.cbInQue && ReadFile(port, buffer, status.cbInQue, &n, nullptr)) got += n;
    }
  }
  const double bare = got / (Now() - t) / 1e6;
  CloseHandle(port);
  CloseHandle(peer);
  Run(2, "1,115200");
  Row("5a serial receive wlCommRxS, MB/s", rxs, bare, "MB/s", "report");
  Row("5b serial receive wlCommRxF (pause 0), MB/s", rxf, bare, "MB/s", "report");
  // wlCommRxF sleeps 1 ms after each piece it appends, and a pty reports at
  // most 4095 bytes waiting, so the pauses allow 4095 bytes a poll.
  const double sleep = PerCall(200, [] { Sleep(1); }) / 1e3;
  const double allowed = 4095 / sleep / 1e3;
  std::printf("    %d wlCommRxF calls; its pauses allow %.2f MB/s (4095 bytes a poll, Sleep(1) takes "
              "%.2f ms): %.0f%% of that\n",
              calls, allowed, sleep, 100 * rxf / allowed);
}

struct BareReceive {
  double megabytesPerSecond;
  size_t receives, bytes;
};

// The limit of figure 3: a line server's stream received into a file by
// bare calls, with or without a wait for readable data (a select, as the
// actions make with the connection's time-out) before each receive.
BareReceive BareReceiveToFile(size_t lines, const std::string& path, bool wait) {
  LineServer server(lines);
  SOCKET s = Connect(server.port);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  static char buffer[65536];
  BareReceive result{0, 0, 0};
  const double t = Now();
  for (;;) {
    if (wait) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(s, &readable);
      timeval limit = {5, 0};
      if (select(0, &readable, nullptr, nullptr, &limit) != 1) break;
    }
    const int n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    DWORD written;
    WriteFile(file, buffer, static_cast<DWORD>(n), &written, nullptr);
    result.bytes += static_cast<size_t>(n);
    ++result.receives;
  }
  result.megabytesPerSecond = static_cast<double>(result.bytes) / (Now() - t) / 1e6;
  CloseHandle(file);
  closesocket(s);
  return result;
}

void BenchTcp() {
  const size_t lines = (64u << 20) / 80;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "wl-bench-rxf.txt";
  const size_t before = PrivateBytes();
  double rxf;
  {
    LineServer server(lines);
    Run(20, "127.0.0.1," + std::to_string(server.port) + ",5000");
    // wlTCPrxF ends where the sender pauses (a receive that found less than
    // it had room for), so a stream takes many calls; each replaces the file.
    const double t = Now();
    double bytes = 0;
    int calls = 0;
    do {
      Run(26, path);
      ++calls;
      bytes += static_cast<double>(FileSize(path));
    } while (tcpErr == " 0" && bytes < lines * 80.0);
    rxf = bytes / (Now() - t) / 1e6;
    std::printf("  (%d wlTCPrxF calls, %.0f bytes, last wlTcpErr \"%s\")\n", calls, bytes,
                tcpErr.c_str());
    Run(21, "");
  }
  const size_t after = PrivateBytes();
  const BareReceive plain = BareReceiveToFile(lines, path, false);
  // With the wait for readable data the actions make before each receive.
  const BareReceive waited = BareReceiveToFile(lines, path, true);
  DeleteFileA(path.c_str());
  Row("3 TCP 64 MiB of 80-byte lines to a file, MB/s", rxf, plain.megabytesPerSecond, "MB/s",
      ">= 0.5 (higher is better)");
  std::printf("    bare with a select before each receive %.2f MB/s (%zu receives, %.0f bytes each)\n",
              waited.megabytesPerSecond, waited.receives,
              static_cast<double>(waited.bytes) / static_cast<double>(waited.receives));

  const size_t few = 200000;
  double perLine, bareLines;
  {
    LineServer server(few);
    Run(20, "127.0.0.1," + std::to_string(server.port) + ",5000");
    const double t = Now();
    for (size_t i = 0; i < few; ++i) Run(25, "v");
    perLine = few / (Now() - t);
    Run(21, "");
  }
  {
    LineServer server(few);
    SOCKET s = Connect(server.port);
    static char buffer[65536];
    std::string pending, line;
    size_t count = 0;
    const double t = Now();
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) {
      pending.append(buffer, static_cast<size_t>(n));
      size_t start = 0;
      for (size_t end; (end = pending.find("\r\n", start)) != std::string::npos; start = end + 2) {
        line.assign(pending, start, end - start);
        ++count;
      }
      pending.erase(0, start);
    }
    bareLines = count / (Now() - t);
    closesocket(s);
  }
  Row("4 TCP line receive, lines/s", perLine, bareLines, "lines/s", "report (higher is better)");
  std::printf("6 memory: private bytes %zu KiB before the 64 MiB transfer, %zu KiB after (growth %lld KiB)\n",
              before / 1024, after / 1024,
              static_cast<long long>(after / 1024) - static_cast<long long>(before / 1024));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench PLUGIN.nbp\n");
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
  std::printf("%-44s %12s %12s\n", "figure (Wirelet action numbers)", "plug-in", "bare");
  BenchActionCost();
  BenchSerialSend();
  BenchSerialReceive();
  BenchTcp();
  return 0;
}
