#include "fake_device.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "wire/port_model.h"

namespace wltest {
namespace {

constexpr UINT kGuardedMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
constexpr DWORD kForever = MAXDWORD;

// COMn or \\.\COMn in any case: a serial device name.
bool LooksLikePort(const std::string& name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.rfind("COM", 0) == 0 || upper.rfind("\\\\.\\COM", 0) == 0;
}

DCB FreshDcb() {
  DCB dcb{};
  nbport::SetFresh(dcb);
  return dcb;
}

COMMPROP FreshProperties() {
  COMMPROP p{};
  p.wPacketLength = sizeof p;
  p.dwCurrentTxQueue = nbport::kFreshQueueBytes;
  p.dwCurrentRxQueue = nbport::kFreshQueueBytes;
  return p;
}

// A sum of milliseconds that saturates instead of wrapping.
DWORD AddMs(DWORD a, uint64_t b) {
  const uint64_t sum = a + b;
  return sum >= kForever ? kForever - 1 : static_cast<DWORD>(sum);
}

}  // namespace

// The virtual clock as the port model waits on it: a wait jumps the clock.
class FakeDevice::Clock : public nbport::PortClock {
 public:
  explicit Clock(FakeDevice& fake) : fake_(fake) {}
  nbport::Millis now() override { return fake_.now_; }
  bool waitUntil(nbport::Millis at) override {
    if (at == nbport::kNever) return false;
    fake_.now_ = std::max(fake_.now_, AddMs(0, at));
    fake_.settle();
    return true;
  }

 private:
  FakeDevice& fake_;
};

// A fake port's device end: its queue, arrivals, modem lines and room.
class FakeDevice::End : public nbport::PortEnd {
 public:
  End(FakeDevice& fake, FakePort& port) : fake_(fake), port_(port) {}
  void update(nbport::Millis) override { fake_.settle(); }
  size_t waiting() override { return port_.inQueue.size(); }
  std::string take(size_t most) override {
    std::string bytes = port_.inQueue.substr(0, most);
    port_.inQueue.erase(0, bytes.size());
    return bytes;
  }
  nbport::Millis nextChange() override {
    DWORD at = 0;
    return fake_.nextArrival(port_, at) ? at : nbport::kNever;
  }
  nbport::ModemLines modem() override { return {port_.cts, port_.dsr, port_.dcd, port_.ring}; }
  size_t room() override { return port_.room; }

 private:
  FakeDevice& fake_;
  FakePort& port_;
};

FakeDevice::FakeDevice() = default;
FakeDevice::~FakeDevice() = default;

FakePort& FakeDevice::addPort(const std::string& name) {
  FakePort& p = ports_[name];
  p.name = name;
  p.dcb = FreshDcb();
  p.properties = FreshProperties();
  return p;
}

FakePort& FakeDevice::port(const std::string& name) { return ports_.at(name); }

void FakeDevice::arrive(const std::string& name, const std::string& bytes, DWORD afterMs) {
  if (afterMs == 0) {
    ports_.at(name).inQueue += bytes;
  } else {
    arrivals_[name].push_back({now_ + afterMs, bytes});
  }
}

void FakeDevice::unplug(const std::string& name, DWORD error) { ports_.at(name).model.unplug(error); }

void FakeDevice::plugIn(const std::string& name) { ports_.at(name).model.plugIn(); }

void FakeDevice::failCall(const std::string& call, DWORD error, int nth, int times,
                          const std::string& target) {
  injections_.push_back({call, target, error, 0, nth - 1, times});
}

void FakeDevice::shortWrite(DWORD missing, int nth, const std::string& target) {
  injections_.push_back({"WriteFile", target, 0, missing, nth - 1, 1});
}

std::vector<std::string> FakeDevice::callsOn(const std::string& target) const {
  std::vector<std::string> out;
  for (const std::string& entry : log_) {
    const size_t space = entry.find(' ');
    if (space == std::string::npos) continue;
    const std::string rest = entry.substr(space + 1);
    if (rest == target) {
      out.push_back(entry.substr(0, space));
    } else if (rest.rfind(target + " ", 0) == 0) {
      out.push_back(entry.substr(0, space) + rest.substr(target.size()));
    }
  }
  return out;
}

int FakeDevice::openPortHandles() const {
  int n = 0;
  for (const auto& h : handles_) n += h.second.port != nullptr;
  return n;
}

FakePort* FakeDevice::portOf(HANDLE handle) {
  auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : it->second.port;
}

std::string FakeDevice::targetOf(HANDLE handle) const {
  auto it = handles_.find(handle);
  return it == handles_.end() ? "unknown" : it->second.target;
}

void FakeDevice::record(const std::string& call, const std::string& target,
                        const std::string& args) {
  log_.push_back(call + " " + target + (args.empty() ? "" : " " + args));
  if (errorMode_ != kGuardedMode) unguarded_.push_back(log_.back());
}

FakeDevice::Injection* FakeDevice::injected(const std::string& call, const std::string& target) {
  for (Injection& i : injections_) {
    if (i.call != call || i.times == 0) continue;
    if (!i.target.empty() && target != i.target && target.find(i.target) == std::string::npos) {
      continue;
    }
    if (i.skip > 0) {
      --i.skip;
      continue;
    }
    if (i.times > 0) --i.times;
    ++fired_;
    return &i;
  }
  return nullptr;
}

BOOL FakeDevice::fail(DWORD error) {
  wl::RealSystemApi().SetLastError(error);
  return FALSE;
}

void FakeDevice::settle() {
  for (auto& entry : arrivals_) {
    std::vector<Arrival>& list = entry.second;
    std::stable_sort(list.begin(), list.end(),
                     [](const Arrival& a, const Arrival& b) { return a.at < b.at; });
    while (!list.empty() && list.front().at <= now_) {
      ports_.at(entry.first).inQueue += list.front().bytes;
      list.erase(list.begin());
    }
  }
}

bool FakeDevice::nextArrival(const FakePort& port, DWORD& at) const {
  auto it = arrivals_.find(port.name);
  if (it == arrivals_.end() || it->second.empty()) return false;
  at = it->second.front().at;
  for (const Arrival& a : it->second) at = std::min(at, a.at);
  return true;
}

bool FakeDevice::spend() { return ++spent_ <= budget_; }

UINT FakeDevice::SetErrorMode(UINT mode) {
  const UINT previous = PassThroughSystem::SetErrorMode(mode);
  errorMode_ = mode;
  return previous;
}

HANDLE FakeDevice::CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD creation,
                               DWORD attributes) {
  const std::string text = name ? name : "";
  const std::string args = std::to_string(access) + " " + std::to_string(share) + " " +
                           std::to_string(creation);
  auto it = ports_.find(text);
  if (it != ports_.end()) {
    record("CreateFileA", text, args);
    if (Injection* i = injected("CreateFileA", text)) {
      fail(i->error);
      return INVALID_HANDLE_VALUE;
    }
    if (const DWORD error = it->second.model.open()) {
      fail(error);
      return INVALID_HANDLE_VALUE;
    }
    HANDLE h = reinterpret_cast<HANDLE>(nextHandle_);
    nextHandle_ += 4;
    handles_[h] = {text, &it->second};
    ++it->second.opens;
    return h;
  }
  if (LooksLikePort(text)) {
    record("CreateFileA", text, args);
    wl::RealSystemApi().SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::string target = "file:" + text;
  record("CreateFileA", target, args);
  if (Injection* i = injected("CreateFileA", target)) {
    fail(i->error);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = PassThroughSystem::CreateFileA(name, access, share, creation, attributes);
  if (h != INVALID_HANDLE_VALUE) handles_[h] = {target, nullptr};
  return h;
}

BOOL FakeDevice::CloseHandle(HANDLE handle) {
  const std::string target = targetOf(handle);
  record("CloseHandle", target);
  auto it = handles_.find(handle);
  if (it == handles_.end()) return PassThroughSystem::CloseHandle(handle);
  const bool isPort = it->second.port != nullptr;
  if (isPort) it->second.port->model.close();  // a removed device's handle closes too
  handles_.erase(it);
  if (Injection* i = injected("CloseHandle", target)) {
    if (!isPort) PassThroughSystem::CloseHandle(handle);
    return fail(i->error);
  }
  return isPort ? TRUE : PassThroughSystem::CloseHandle(handle);
}

BOOL FakeDevice::ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* read) {
  FakePort* p = portOf(handle);
  if (p == nullptr) {
    record("ReadFile", targetOf(handle), std::to_string(count));
    return PassThroughSystem::ReadFile(handle, buffer, count, read);
  }
  record("ReadFile", p->name, std::to_string(count));
  *read = 0;
  if (!spend()) return fail(ERROR_INVALID_HANDLE);
  if (const DWORD error = p->model.transferError(nbport::LineOf(p->dcb), p->lineErrors)) {
    return fail(error);
  }
  if (Injection* i = injected("ReadFile", p->name)) return fail(i->error);
  Clock clock(*this);
  End end(*this, *p);
  const nbport::ReadResult got = p->model.read(clock, end, nbport::TimeoutsOf(p->timeouts), count);
  if (got.forever) foreverWaits_.push_back("ReadFile " + p->name + " " + std::to_string(count));
  if (got.error != 0) return fail(got.error);
  std::memcpy(buffer, got.bytes.data(), got.bytes.size());
  *read = static_cast<DWORD>(got.bytes.size());
  return TRUE;
}

BOOL FakeDevice::WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* written) {
  FakePort* p = portOf(handle);
  const std::string target = p ? p->name : targetOf(handle);
  record("WriteFile", target, std::to_string(count));
  Injection* i = injected("WriteFile", target);
  if (p == nullptr) {
    if (i != nullptr && i->error != 0) return fail(i->error);
    const DWORD missing = i ? std::min(i->missing, count) : 0;
    return PassThroughSystem::WriteFile(handle, buffer, count - missing, written);
  }
  *written = 0;
  if (!spend()) return fail(ERROR_INVALID_HANDLE);
  if (const DWORD error = p->model.transferError(nbport::LineOf(p->dcb), p->lineErrors)) {
    return fail(error);
  }
  if (i != nullptr && i->error != 0) return fail(i->error);
  // A short write injected takes what the time-out would have let through.
  const DWORD asked = i != nullptr ? count - std::min(i->missing, count) : count;
  Clock clock(*this);
  End end(*this, *p);
  const nbport::WriteResult done = p->model.write(clock, end, nbport::LineOf(p->dcb),
                                                  nbport::TimeoutsOf(p->timeouts), asked);
  if (done.forever) foreverWaits_.push_back("WriteFile " + p->name + " " + std::to_string(count));
  const std::string bytes(static_cast<const char*>(buffer), done.written);
  p->sent += bytes;
  p->writes.push_back(bytes);
  if (p->room != static_cast<size_t>(-1)) p->room -= done.written;
  if (done.error != 0) return fail(done.error);
  *written = done.written;
  return TRUE;
}

DWORD FakeDevice::GetFileType(HANDLE handle) {
  FakePort* p = portOf(handle);
  record("GetFileType", p ? p->name : targetOf(handle));
  return p ? FILE_TYPE_CHAR : PassThroughSystem::GetFileType(handle);
}

void FakeDevice::Sleep(DWORD milliseconds) {
  // Windows sleeps to a timer tick: a Sleep(10) lasts a whole 15.6 ms tick.
  if (timerTick_ > 1 && milliseconds > 0) {
    milliseconds = (milliseconds + timerTick_ - 1) / timerTick_ * timerTick_;
  }
  now_ = AddMs(now_, milliseconds);
  settle();
}

BOOL FakeDevice::QueryPerformanceCounter(LARGE_INTEGER* count) {
  ++clockReads_;
  count->QuadPart = now_;
  return TRUE;
}

BOOL FakeDevice::QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  frequency->QuadPart = 1000;  // the counter counts the fake's milliseconds
  return TRUE;
}

BOOL FakeDevice::GetCommState(HANDLE handle, DCB* dcb) {
  FakePort* p = portOf(handle);
  if (p == nullptr) return fail(ERROR_INVALID_HANDLE);
  record("GetCommState", p->name);
  if (!spend()) return fail(ERROR_INVALID_HANDLE);
  if (const DWORD error = p->model.handleError()) return fail(error);
  if (Injection* i = injected("GetCommState", p->name)) return fail(i->error);
  *dcb = p->dcb;
  return TRUE;
}

BOOL FakeDevice::SetCommState(HANDLE handle, DCB* dcb) {
  FakePort* p = portOf(handle);
  if (p == nullptr) return fail(ERROR_INVALID_HANDLE);
  record("SetCommState", p->name);
  if (!spend()) return fail(ERROR_INVALID_HANDLE);
  if (const DWORD error = p->model.handleError()) return fail(error);
  if (Injection* i = injected("SetCommState", p->name)) return fail(i->error);
  if (p->refuseBadFraming &&
      nbport::FramingRefused(dcb->BaudRate, dcb->ByteSize, dcb->Parity, dcb->StopBits)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  p->dcb = *dcb;
  return TRUE;
}

BOOL FakeDevice::GetCommProperties(HANDLE handle, COMMPROP* properties) {
  FakePort* p = portOf(handle);
  if (p == nullptr) return fail(ERROR_INVALID_HANDLE);
  record("GetCommProperties", p->name);
  if (const DWORD error = p->model.handleError()) return fail(error);
  if (Injection* i = injected("GetCommProperties", p->name)) return fail(i->error);
  *properties = p->properties;
  return TRUE;
}

BOOL FakeDevice::SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
  FakePort* p = portOf(handle);
  if (p == nullptr) return fail(ERROR_INVALID_HANDLE);
  record("SetupComm", p->name, std::to_string(inQueue) + " " + std::to_string(outQueue));
  p->setupComm.emplace_back(inQueue, outQueue);
  if (const DWORD error = p->model.handleError()) return fail(error);
  if (Injection* i = injected("SetupComm", p->name)) return fail(i->error);
  const COMMPROP& c = p->properties;
  if ((c.dwMaxRxQueue != 0 && inQueue > c.dwMaxRxQueue) ||
      (c.dwMaxTxQueue != 0 && outQueue > c.dwMaxTxQueue)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  p->properties.dwCurrentRxQueue = inQueue;
  p->properties.dwCurrentTxQueue = outQueue;
  return TRUE;
}

BOOL FakeDevice::ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status) {
  FakePort* p = portOf(handle);
  if (p == nullptr) return fail(ERROR_INVALID_HANDLE);
  record("ClearCommError", p->name);
  if (!spend()) return fail(ERROR_INVALID_HANDLE);
  if (const DWORD error = p->model.handleError()) return fail(error);
  if (Injection* i = injected("ClearCommError", p->name)) return fail(i->error);
  settle();
  if (errors) *errors = p->lineErrors;
  p->lineErrors = 0;
  if (status) {
    *status = COMSTAT{};
    status->cbInQue = static_cast<DWORD>(p->inQueue.size());
  }
  return TRUE;
}

BOOL FakeDevice::GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
  FakePort* p = portOf(handle);
  if (p == nullptr) return fail(ERROR_INVALID_HANDLE);
  record("GetCommTimeouts", p->name);
  if (const DWORD error = p->model.handleError()) return fail(error);
  if (Injection* i = injected("GetCommTimeouts", p->name)) return fail(i->error);
  *timeouts = p->timeouts;
  return TRUE;
}

BOOL FakeDevice::SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* t) {
  FakePort* p = portOf(handle);
  if (p == nullptr) return fail(ERROR_INVALID_HANDLE);
  record("SetCommTimeouts", p->name,
         std::to_string(t->ReadIntervalTimeout) + " " + std::to_string(t->ReadTotalTimeoutMultiplier) +
             " " + std::to_string(t->ReadTotalTimeoutConstant) + " " +
             std::to_string(t->WriteTotalTimeoutMultiplier) + " " +
             std::to_string(t->WriteTotalTimeoutConstant));
  if (const DWORD error = p->model.handleError()) return fail(error);
  if (Injection* i = injected("SetCommTimeouts", p->name)) return fail(i->error);
  if (const DWORD error = nbport::TimeoutsError(nbport::TimeoutsOf(*t))) return fail(error);
  p->timeouts = *t;
  return TRUE;
}

std::vector<std::string> CallNames(const std::vector<std::string>& entries) {
  std::vector<std::string> out;
  for (const std::string& e : entries) out.push_back(e.substr(0, e.find(' ')));
  return out;
}

}  // namespace wltest
