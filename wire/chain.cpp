#include "chain.h"

#include <memory>
#include <vector>

#include "wire/comm_modules.h"
#include "wire/import_redirect.h"
#include "wire/played_servers.h"
#include "wire/port_names.h"
#include "wire/simulated_ports.h"
#include "wire/spy_hooks.h"
#include "wire/wire_calls.h"

namespace nbwire {
namespace {

struct Served {
  HMODULE module;
  const BYTE* begin;
  const BYTE* end;
  WireCalls originals;  // what its slots held when they were redirected
  std::unique_ptr<ImportRedirections> redirections;
};

// What the chain holds: made when first needed, ended by Detach alone. A
// plain pointer, so no destructor at process exit touches it (in an order
// between files that is the linker's).
struct Held {
  std::vector<std::unique_ptr<Served>> served;
  std::unique_ptr<nbspy::Spy> spy;
};
Held* held = nullptr;
Held& Holding() {
  if (held == nullptr) held = new Held;
  return *held;
}

WireCalls top;  // where each front function hands its call

// The functions the module whose call is under way imported. A plain
// variable, not a thread-local one: reaching a thread-local may clear the
// last error, which the plug-ins read after their calls; and the host calls
// plug-ins on one thread.
const WireCalls* callerOriginals = nullptr;

// The system's own functions, for a call from a module the chain does not
// know (the slot's address was copied elsewhere before it was redirected).
const WireCalls& SystemCalls() {
  static const WireCalls calls = [] {
    WireCalls c;
    const HMODULE kernel = GetModuleHandleA(kPortDll);
    HMODULE sockets = GetModuleHandleA(kSocketDlls[0]);
    if (sockets == nullptr) sockets = GetModuleHandleA(kSocketDlls[1]);
#define NBWIRE_RESOLVE(module, name) \
  c.name = reinterpret_cast<decltype(c.name)>(reinterpret_cast<void*>(GetProcAddress(module, #name)));
#define NBWIRE_PORT(name) NBWIRE_RESOLVE(kernel, name)
#define NBWIRE_SOCKET(name) NBWIRE_RESOLVE(sockets, name)
    NBWIRE_PORT_CALLS(NBWIRE_PORT)
    if (sockets != nullptr) {
      NBWIRE_SOCKET_CALLS(NBWIRE_SOCKET)
    }
#undef NBWIRE_SOCKET
#undef NBWIRE_PORT
#undef NBWIRE_RESOLVE
    return c;
  }();
  return calls;
}

const WireCalls& OriginalsOf(const void* returnAddress) {
  const auto* at = static_cast<const BYTE*>(returnAddress);
  if (held == nullptr) return SystemCalls();
  for (const auto& s : held->served) {
    if (at >= s->begin && at < s->end) return s->originals;
  }
  return SystemCalls();
}

template <class F>
struct Call;
template <class R, class... A>
struct Call<R(WINAPI*)(A...)> {
  using Fn = R(WINAPI*)(A...);
  // In a module's slot: notes whose call this is (from where it returns
  // to), then hands it to the first layer that takes it. No system call
  // here: the last error passes through untouched.
  template <Fn WireCalls::*call>
  __attribute__((noinline)) static R WINAPI Front(A... args) {
    const WireCalls* outer = callerOriginals;
    callerOriginals = &OriginalsOf(__builtin_return_address(0));
    const R result = (top.*call)(args...);
    callerOriginals = outer;
    return result;
  }
  // Below the last layer: the function the calling module imported.
  template <Fn WireCalls::*call>
  static R WINAPI Original(A... args) {
    return (callerOriginals->*call)(args...);
  }
};

// The front functions (for the slots), or those that pass a call to what
// the calling module imported (below the last layer): one for each call.
template <bool kFront>
const WireCalls& Functions() {
  static const WireCalls calls = [] {
    WireCalls c;
#define NBWIRE_FUNCTION(name)                                                        \
  c.name = kFront ? &Call<decltype(WireCalls::name)>::template Front<&WireCalls::name> \
                  : &Call<decltype(WireCalls::name)>::template Original<&WireCalls::name>;
    NBWIRE_PORT_CALLS(NBWIRE_FUNCTION)
    NBWIRE_SOCKET_CALLS(NBWIRE_FUNCTION)
#undef NBWIRE_FUNCTION
    return c;
  }();
  return calls;
}
const WireCalls& FrontCalls() { return Functions<true>(); }
const WireCalls& OriginalCalls() { return Functions<false>(); }

// Every slot of the list in `s` leads to the front functions.
std::vector<Hook> FrontHooks(Served& s) {
  const WireCalls& front = FrontCalls();
  std::vector<Hook> hooks;
#define NBWIRE_PORT_HOOK(name) \
  hooks.push_back({kPortDll, #name, reinterpret_cast<void*>(front.name), reinterpret_cast<void**>(&s.originals.name)});
#define NBWIRE_SOCKET_HOOK(name)                                                                        \
  for (const char* dll : kSocketDlls) {                                                                 \
    hooks.push_back({dll, #name, reinterpret_cast<void*>(front.name), reinterpret_cast<void**>(&s.originals.name)}); \
  }
  NBWIRE_PORT_CALLS(NBWIRE_PORT_HOOK)
  NBWIRE_SOCKET_CALLS(NBWIRE_SOCKET_HOOK)
#undef NBWIRE_SOCKET_HOOK
#undef NBWIRE_PORT_HOOK
  return hooks;
}

// The layers from the front, with whether each is on.
struct Layer {
  WireLayer layer;
  bool on;
};

// Links the layers that are on, from the last to the first: each passes
// its calls to the ones below it, the last to the imported functions; the
// front functions hand every call to the first layer that takes it.
void Link() {
  const Layer layers[] = {
      {nbspy::SpyLayer(), Holding().spy != nullptr},
      {nbdevice::PortLayer(), nbdevice::PortsActive()},
      {ServerLayer(), ServersActive()},
  };
  WireCalls below = OriginalCalls();
  for (auto layer = std::rbegin(layers); layer != std::rend(layers); ++layer) {
    if (!layer->on) continue;
    *layer->layer.next = below;
#define NBWIRE_OVERLAY(name) \
  if (layer->layer.calls.name != nullptr) below.name = layer->layer.calls.name;
    NBWIRE_PORT_CALLS(NBWIRE_OVERLAY)
    NBWIRE_SOCKET_CALLS(NBWIRE_OVERLAY)
#undef NBWIRE_OVERLAY
  }
  top = below;
}

bool StillLoaded(HMODULE module) { return ModuleOf(module) == module; }

// Puts every served module's slots in line with the layers.
void Apply() {
  std::vector<std::unique_ptr<Served>>& served = Holding().served;
  // A module unloaded since has no slots left to write.
  for (auto it = served.begin(); it != served.end();) {
    if (StillLoaded((*it)->module)) {
      ++it;
      continue;
    }
    (void)(*it)->redirections.release();
    it = served.erase(it);
  }
  Link();
  const bool on = Holding().spy != nullptr || nbdevice::PortsActive() || ServersActive();
  for (const auto& s : served) {
    if (!on) {
      s->redirections.reset();
    } else if (!s->redirections) {
      // The slots will lead here for as long as the process lives, whatever
      // unloads the module that holds the chain's code.
      HMODULE self = nullptr;
      GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCSTR>(&Apply), &self);
      s->redirections = std::make_unique<ImportRedirections>(s->module, FrontHooks(*s));
    }
  }
}

}  // namespace

void Serve(HMODULE module) {
  std::vector<std::unique_ptr<Served>>& served = Holding().served;
  for (auto it = served.begin(); it != served.end(); ++it) {
    Served& s = **it;
    if (s.module != module) continue;
    if (!s.redirections || s.redirections->intact()) return;
    // The module was unloaded and loaded again at the same address: the old
    // slots went with the old image, so nothing is written back to them.
    (void)s.redirections.release();
    served.erase(it);
    break;
  }
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(module) + dos->e_lfanew);
  auto s = std::make_unique<Served>();
  s->module = module;
  s->begin = reinterpret_cast<const BYTE*>(module);
  s->end = s->begin + nt->OptionalHeader.SizeOfImage;
  served.push_back(std::move(s));
  Apply();
}

void SpyTo(std::FILE* out) {
  std::unique_ptr<nbspy::Spy>& spy = Holding().spy;
  spy.reset();  // one spy at a time: the old one writes its last lines first
  if (out != nullptr) spy = std::make_unique<nbspy::Spy>(out);
  Apply();
}

void FlushSpy() { nbspy::Spy::Flush(); }

void FinishSpy() { nbspy::Spy::Finish(); }

void Play(const Place& place, const nbdevice::DeviceFile& file) {
  if (!place.port.empty()) {
    nbdevice::PlayPort(place.port, file);
  } else {
    PlayServer(place.server, file);
  }
  Apply();
}

bool Play(const std::string& text, const nbdevice::DeviceFile& file) {
  Place place;
  if (!ParsePlace(text, place)) return false;
  Play(place, file);
  return true;
}

void StopPlaying(const Place& place) {
  if (!place.port.empty()) {
    nbdevice::StopPort(place.port);
  } else {
    StopServer(place.server);
  }
  Apply();
}

void Detach() {
  if (held == nullptr) return;
  held->spy.reset();
  nbdevice::StopPorts();
  StopServers();
  Apply();
  // The records go with the last redirection; one a played port still
  // open keeps waits for the next change.
  for (const auto& s : held->served) {
    if (s->redirections) return;
  }
  delete held;
  held = nullptr;
}

}  // namespace nbwire
