#include "comm_modules.h"

#include "wire/import_redirect.h"
#include "wire/wire_calls.h"

namespace nbwire {
namespace {

// The seven entry points every NeoBook plug-in exports, decorated.
const char* const kEntryPoints[] = {
    "_nbEditAction@8",   "_nbExecAction@8",      "_nbInitPlugIn@16",          "_nbMessage@8",
    "_nbRegisterInterfaceAccess@4", "_nbRegisterPlugIn@16", "_nbRegisterScriptProcessor@4",
};

// Calls only a program that talks to serial ports or the network imports.
const char* const kSerialCalls[] = {"GetCommState", "SetCommState", "ClearCommError"};
const char* const kSocketCalls[] = {"connect", "recv", "send"};

bool ImportsAny(HMODULE module, const char* dll, const char* const* calls, size_t count) {
  for (size_t k = 0; k < count; ++k) {
    if (ImportSlot(module, dll, calls[k]) != nullptr) return true;
  }
  return false;
}

}  // namespace

bool IsCommPlugIn(HMODULE module) {
  if (module == nullptr) return false;
  for (const char* name : kEntryPoints) {
    if (GetProcAddress(module, name) == nullptr) return false;
  }
  if (ImportsAny(module, kPortDll, kSerialCalls, 3)) return true;
  for (const char* dll : kSocketDlls) {
    if (ImportsAny(module, dll, kSocketCalls, 3)) return true;
  }
  return false;
}

std::vector<HMODULE> LoadedCommPlugIns(HMODULE except) {
  // The address space, region by region: each loaded module starts a
  // region of image memory at its own base. VirtualQuery needs no rights
  // and no library beyond kernel32 (a module snapshot is refused here under
  // Wine, and the module list functions are not in every Windows' kernel32).
  std::vector<HMODULE> found;
  const HMODULE program = GetModuleHandleA(nullptr);
  MEMORY_BASIC_INFORMATION region;
  for (const BYTE* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
    const auto* base = static_cast<const BYTE*>(region.BaseAddress);
    if (region.Type == MEM_IMAGE && region.AllocationBase == region.BaseAddress) {
      const auto module = reinterpret_cast<HMODULE>(region.BaseAddress);
      // An image mapped to read its resources is not loaded: it has no module.
      if (module != program && module != except && ModuleOf(module) == module && IsCommPlugIn(module)) {
        found.push_back(module);
      }
    }
    if (base + region.RegionSize <= at) break;  // the top of the address space
    at = base + region.RegionSize;
  }
  return found;
}

HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace nbwire
