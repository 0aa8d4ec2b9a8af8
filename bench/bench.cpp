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
std::string lastValue, tcpErr;
extern "C" void __stdcall SetVariable(const char* name, const char* value) {
  lastValue = value ? value : "";
  if (name && std::string(name) == "wlTcpErr") tcpErr = lastValue;
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

void BenchActionCost() {
  Run(2, "1,115200");
  const int n = 50000;
  double t = Now();
  for (int i = 0; i < n; ++i) Run(17, "1,n");
  const double action = (Now() - t) / n * 1e6;
  Run(3, "1");
  HANDLE port = OpenPort("COM1");
  DWORD errors;
  COMSTAT status;
  t = Now();
  for (int i = 0; i < n; ++i) ClearCommError(port, &errors, &status);
  const double bare = (Now() - t) / n * 1e6;
  CloseHandle(port);
  Run(2, "1,115200");
  Row("1 one action (wlCommRxCount), us", action, bare, "us", "<= 1.5");
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
  CloseHandle(port);
  CloseHandle(peer);
  Run(2, "1,115200");
  Row("2 serial send of 4 KiB texts, MB/s", action, bare, "MB/s", ">= 0.9 (higher is better)");
}

void BenchSerialReceive() {
  HANDLE peer = OpenPort("\\\\.\\COM101");
  const size_t total = 8 << 20;
  std::atomic<bool> done{false};
  auto feed = [&](HANDLE to) {
    return std::thread([&, to] {
      const std::string chunk(4096, 'r');
      DWORD w;
      for (size_t sent = 0; sent < total && !done; sent += w) {
        if (!WriteFile(to, chunk.data(), 4096, &w, nullptr)) break;
      }
    });
  };
  // wlCommRxS with count 0 takes everything waiting, call after call.
  size_t got = 0;
  double t = Now();
  std::thread writer = feed(peer);
  while (got < total && Now() - t < 60) {
    Run(12, "1,0,s");
    got += lastValue.size();
  }
  const double rxs = got / (Now() - t) / 1e6;
  done = true;
  writer.join();
  Run(16, "1");
  // wlCommRxF with pause 0 keeps appending while each poll finds data.
  done = false;
  char file[MAX_PATH];
  GetTempPathA(MAX_PATH, file);
  std::string path = std::string(file) + "wl-bench-rxf.bin";
  DeleteFileA(path.c_str());
  t = Now();
  writer = feed(peer);
  Sleep(5);
  Run(14, "1," + path + ",0");
  const double seconds = Now() - t;
  done = true;
  writer.join();
  WIN32_FILE_ATTRIBUTE_DATA info{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info);
  const double rxf = info.nFileSizeLow / seconds / 1e6;
  DeleteFileA(path.c_str());
  Run(16, "1");
  // The bare loop: ClearCommError, then ReadFile of what is waiting.
  Run(3, "1");
  HANDLE port = OpenPort("COM1");
  done = false;
  got = 0;
  t = Now();
  writer = feed(peer);
  static char buffer[65536];
  while (got < total && Now() - t < 60) {
    DWORD errors, n = 0;
    COMSTAT status;
    ClearCommError(port, &errors, &status);
    if (status.cbInQue && ReadFile(port, buffer, status.cbInQue, &n, nullptr)) got += n;
  }
  const double bare = got / (Now() - t) / 1e6;
  done = true;
  writer.join();
  CloseHandle(port);
  CloseHandle(peer);
  Row("5a serial receive wlCommRxS, MB/s", rxs, bare, "MB/s", "report");
  Row("5b serial receive wlCommRxF (pause 0), MB/s", rxf, bare, "MB/s", "report");
}

void BenchTcp() {
  const size_t lines = (64u << 20) / 80;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "wl-bench-rxf.txt";
  const size_t before = PrivateBytes();
  double rxf, bare;
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
      WIN32_FILE_ATTRIBUTE_DATA info{};
      GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info);
      bytes += info.nFileSizeLow;
    } while (tcpErr == " 0" && bytes < lines * 80.0);
    rxf = bytes / (Now() - t) / 1e6;
    std::printf("  (%d wlTCPrxF calls, %.0f bytes, last wlTcpErr \"%s\")\n", calls, bytes,
                tcpErr.c_str());
    Run(21, "");
  }
  const size_t after = PrivateBytes();
  {
    LineServer server(lines);
    SOCKET s = Connect(server.port);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    static char buffer[65536];
    const double t = Now();
    size_t got = 0;
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) {
      DWORD w;
      WriteFile(file, buffer, static_cast<DWORD>(n), &w, nullptr);
      got += static_cast<size_t>(n);
    }
    bare = got / (Now() - t) / 1e6;
    CloseHandle(file);
    closesocket(s);
  }
  DeleteFileA(path.c_str());
  Row("3 TCP 64 MiB of 80-byte lines to a file, MB/s", rxf, bare, "MB/s", ">= 0.5 (higher is better)");

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
  if (argc > 2 && std::string(argv[2]) == "--serial-receive") BenchSerialReceive();
  BenchTcp();
  return 0;
}
