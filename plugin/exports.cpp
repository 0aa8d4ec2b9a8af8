// The seven entry points the host calls, and library main.
//
// Each entry point hands its work to the engine with this library's edition
// (ThisEdition). All use stdcall and are exported under their decorated names
// with fixed ordinals by the edition's .def file. None reports an error to the
// host: failures inside actions reach the script as host variables.
#include <windows.h>

#include <cstdint>

#include "plugin/bridge.h"
#include "plugin/catalogue.h"
#include "plugin/dispatch.h"

namespace {

// The host may run with floating-point exceptions unmasked (Delphi programs
// do). Number reading can overflow to infinity, so actions run with the
// default environment and the host's is put back afterwards.
//
// A whole environment store and load (fnstenv, fldenv) costs more than a
// short action's own work, so the words are saved one by one and the
// environment is loaded only when the status word must be put back: when
// flags were raised in here. The tag word needs no saving: the calling
// convention hands over the x87 stack empty and gets it back empty. A host
// that comes with an unmasked exception pending (the summary bit set) gets
// the whole store at once, which masks everything before any waiting
// instruction could raise it.
class FloatingPointGuard {
 public:
  FloatingPointGuard() {
    asm volatile("fnstsw %0" : "=m"(status_));
    whole_ = (status_ & kErrorSummary) != 0;
    if (whole_) {
      asm volatile("fnstenv %0" : "=m"(x87_));
    } else {
      asm volatile("fnstcw %0" : "=m"(control_));
    }
    // Loading a control word stalls the processor: only a different one is.
    if (whole_ || control_ != kX87Defaults) asm volatile("fldcw %0" : : "m"(kX87Defaults));
    asm volatile("stmxcsr %0" : "=m"(sse_));
    if (sse_ != kSseDefaults) asm volatile("ldmxcsr %0" : : "m"(kSseDefaults));
  }
  ~FloatingPointGuard() {
    // The host's words come back as they were, flags raised in here dropped.
    uint32_t sse = 0;
    asm volatile("stmxcsr %0" : "=m"(sse));
    if (sse != sse_) asm volatile("ldmxcsr %0" : : "m"(sse_));
    if (!whole_) {
      uint16_t status = 0;
      asm volatile("fnstsw %0" : "=m"(status));
      if (status == status_) {
        uint16_t control = 0;
        asm volatile("fnstcw %0" : "=m"(control));
        if (control != control_) asm volatile("fldcw %0" : : "m"(control_));
        return;
      }
      // fnstenv masks every exception, so nothing raised in here can fire
      // before the host's words are loaded with the environment.
      asm volatile("fnstenv %0" : "=m"(x87_));
      x87_.words[0] = (x87_.words[0] & 0xFFFF0000u) | control_;
      x87_.words[1] = (x87_.words[1] & 0xFFFF0000u) | status_;
    }
    asm volatile("fldenv %0" : : "m"(x87_));
  }

 private:
  static constexpr uint16_t kX87Defaults = 0x037F;
  static constexpr uint32_t kSseDefaults = 0x1F80;
  static constexpr uint16_t kErrorSummary = 0x0080;
  // The protected-mode 32-bit layout: the control word, then the status
  // word, each in the low half of its own 32-bit slot.
  struct {
    uint32_t words[7];
  } x87_;
  uint16_t control_ = 0;
  uint16_t status_ = 0;
  bool whole_ = false;
  uint32_t sse_ = 0;
};

const char kParameterTypes[] = "ACTIONPARAM_ALPHA";

}  // namespace

extern "C" {

// Library main: succeeds for every notification. Unloaded by FreeLibrary
// (reserved is null, as DllMain's page documents), the edition releases
// what it holds, so a port does not stay taken until the host exits; it
// makes no Winsock call there (WSACleanup's page forbids it in DllMain), so
// a connection left open is the system's to close. At process exit
// (reserved not null) nothing is touched: the system releases everything.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr && wl::ThisEdition().unload) {
    try {
      wl::ThisEdition().unload();
    } catch (...) {
      // Nothing may unwind into the loader.
    }
  }
  return TRUE;
}

// 1 when `number` is one of the edition's actions, else 0. The parameter list
// is never read.
__stdcall int32_t nbEditAction(int32_t number, void* /*parameterList*/) {
  return wl::EditAction(wl::ThisEdition(), number);
}

// Runs action `number` on the first text of the host's parameter list.
// 1 when the number is known (whatever the action did), 0 otherwise.
// Nothing may unwind into the host: an action that runs out of memory ends
// there, as far as it got.
__stdcall int32_t nbExecAction(int32_t number, const char* const* parameterList) {
  FloatingPointGuard guard;
  try {
    return wl::ExecAction(wl::ThisEdition(), number, parameterList);
  } catch (...) {
    return wl::EditAction(wl::ThisEdition(), number);
  }
}

// Fills the host's title, publisher and hint slots with new GlobalAlloc
// blocks, releasing what the slots held.
__stdcall void nbInitPlugIn(void* /*hostValue*/, char** title, char** publisher, char** hint) {
  const wl::Edition& edition = wl::ThisEdition();
  wl::PutHostString(title, edition.title);
  wl::PutHostString(publisher, edition.publisher);
  wl::PutHostString(hint, edition.hint);
}

// Accepted; no message has an effect.
__stdcall void nbMessage(int32_t /*code*/, int32_t /*value*/) {}

// Accepted and not used.
__stdcall void nbRegisterInterfaceAccess(void* /*callback*/) {}

// Keeps the add-action and set-variable callbacks, then registers the whole
// catalogue, one call per entry in table order.
__stdcall void nbRegisterPlugIn(void* addAction, void* /*second*/, void* /*third*/,
                                void* setVariable) {
  wl::SetHostLink(addAction, setVariable);
  for (const wl::CatalogueEntry& entry : wl::ThisEdition()) {
    wl::RegisterAction(entry.number, entry.name, entry.hint, kParameterTypes,
                       entry.number == 0 ? 0 : 1);
  }
}

// Accepted and not used.
__stdcall void nbRegisterScriptProcessor(void* /*callback*/) {}

}  // extern "C"
