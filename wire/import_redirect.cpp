#include "import_redirect.h"

namespace nbwire {
namespace {

template <class T>
T* At(HMODULE module, DWORD offset) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
}

// Writes a slot; the table may sit in read-only memory.
void Write(void** slot, void* value) {
  DWORD protection = 0;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
  *slot = value;
  VirtualProtect(slot, sizeof *slot, protection, &protection);
}

}  // namespace

// Functions imported by ordinal have no name to find them by.
void** ImportSlot(HMODULE module, const char* dll, const char* function) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  if (module == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = At<const IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  for (auto* entry = At<const IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress);
       entry->Name != 0; ++entry) {
    if (lstrcmpiA(At<const char>(module, entry->Name), dll) != 0) continue;
    // The names live in the lookup table; the addresses in the slots beside them.
    const DWORD names = entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk;
    auto* lookup = At<const IMAGE_THUNK_DATA>(module, names);
    auto* slot = At<IMAGE_THUNK_DATA>(module, entry->FirstThunk);
    for (; lookup->u1.AddressOfData != 0; ++lookup, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(lookup->u1.Ordinal)) continue;
      const auto* byName = At<const IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(lookup->u1.AddressOfData));
      if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) == 0) {
        return reinterpret_cast<void**>(&slot->u1.Function);
      }
    }
  }
  return nullptr;
}

ImportRedirections::ImportRedirections(HMODULE module, const std::vector<Hook>& hooks) {
  for (const Hook& hook : hooks) {
    void** slot = ImportSlot(module, hook.dll, hook.function);
    if (slot == nullptr) continue;
    *hook.original = *slot;
    slots_.push_back({slot, *slot, hook.replacement});
    Write(slot, hook.replacement);
  }
}

bool ImportRedirections::intact() const {
  for (const Slot& slot : slots_) {
    if (*slot.address != slot.replacement) return false;
  }
  return true;
}

ImportRedirections::~ImportRedirections() {
  for (auto slot = slots_.rbegin(); slot != slots_.rend(); ++slot) {
    if (*slot->address == slot->replacement) Write(slot->address, slot->original);
  }
}

}  // namespace nbwire
