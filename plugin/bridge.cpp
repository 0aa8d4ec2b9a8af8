#include "bridge.h"

#include <cstring>

#include "plugin/host_memory.h"
#include "plugin/params.h"

// Calls `function` with `count` 32-bit arguments pushed right to left and
// restores the stack pointer from the frame afterwards, so it makes no
// difference whether the callee removed its arguments (stdcall) or left them
// (cdecl). Host callbacks are always called through here.
extern "C" uint32_t wlCallHost(const void* function, const uint32_t* arguments, uint32_t count);

asm(R"(
    .text
    .globl _wlCallHost
    .def _wlCallHost; .scl 2; .type 32; .endef
_wlCallHost:
    pushl %ebp
    movl  %esp, %ebp
    pushl %esi
    pushl %edi
    pushl %ebx
    movl  12(%ebp), %esi
    movl  16(%ebp), %ecx
1:  testl %ecx, %ecx
    jz    2f
    decl  %ecx
    pushl (%esi,%ecx,4)
    jmp   1b
2:  call  *8(%ebp)
    leal  -12(%ebp), %esp
    popl  %ebx
    popl  %edi
    popl  %esi
    popl  %ebp
    ret
)");

namespace wl {
namespace {

const void* addActionCallback = nullptr;
const void* setVariableCallback = nullptr;

uint32_t Address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// The address to pass for a text: null for an empty one.
uint32_t TextArgument(const std::string& text) { return text.empty() ? 0 : Address(text.c_str()); }

// The texts go as the caller's own: every caller passes the plug-in's
// temporaries (texts it built, fields split from its copy of the parameter
// text), NUL-terminated and released when the action ends, so a second copy
// would show the host nothing new and cost an allocation for every value
// past the short-string size.
void CallSetVariable(uint32_t name, uint32_t value) {
  if (setVariableCallback == nullptr) return;
  const uint32_t arguments[2] = {name, value};
  wlCallHost(setVariableCallback, arguments, 2);
}

}  // namespace

void SetHostLink(const void* addAction, const void* setVariable) {
  addActionCallback = addAction;
  setVariableCallback = setVariable;
}

void SetHostVariable(const std::string& name, const std::string& value) {
  CallSetVariable(TextArgument(name), TextArgument(value));
}

void SetHostNumber(const char* name, int64_t number) {
  const NumberChars text(number);
  CallSetVariable(name[0] ? Address(name) : 0, Address(text.c_str()));
}

void RegisterAction(int32_t number, const char* name, const char* hint, const char* parameterTypes,
                    uint8_t parameterCount) {
  if (addActionCallback == nullptr) return;
  const uint32_t arguments[6] = {
      static_cast<uint32_t>(number), Address(name),
      (hint && hint[0]) ? Address(hint) : 0, Address(parameterTypes),
      parameterCount, parameterCount,
  };
  wlCallHost(addActionCallback, arguments, 6);
}

void FreeHostString(char** slot) {
  if (*slot != nullptr) Memory().GlobalFree(reinterpret_cast<HGLOBAL>(*slot));
  *slot = nullptr;
}

void PutHostString(char** slot, const std::string& text) {
  FreeHostString(slot);
  if (text.empty()) return;
  char* block = static_cast<char*>(Memory().GlobalAlloc(GPTR, text.size() + 1));
  if (block == nullptr) return;
  std::memcpy(block, text.data(), text.size());  // the zero fill ends it
  *slot = block;
}

}  // namespace wl
