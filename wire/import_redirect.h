// Import redirection: puts a function of this program between a loaded
// module and the system functions it imports.
//
// A module calls the system through its import address table: each call
// jumps through the table's slot for that function, which the loader
// filled with the function's address. Writing another address into a slot
// sends the module's calls there, without changing the module's file or
// code; the replacement passes each call on to the address the slot held.
#pragma once

#include <windows.h>

#include <vector>

namespace nbwire {

// The slot through which `module` calls `dll`'s `function` (names as in the
// import table; the DLL's in any case), or nullptr when it imports no such
// function by name.
void** ImportSlot(HMODULE module, const char* dll, const char* function);

// One slot to redirect: `dll`'s `function` to `replacement`. `original`
// receives what the slot held; it is left as it was when the module does
// not import the function, and then no call can come.
struct Hook {
  const char* dll;
  const char* function;
  void* replacement;
  void** original;
};

// The redirections of one module, undone when destroyed: each slot gets
// back what it held, unless something else has been written there since
// (a redirection made later by another program part stays).
class ImportRedirections {
 public:
  ImportRedirections(HMODULE module, const std::vector<Hook>& hooks);
  ~ImportRedirections();
  ImportRedirections(const ImportRedirections&) = delete;
  ImportRedirections& operator=(const ImportRedirections&) = delete;

  // Whether every slot still leads to its replacement: false for a module
  // unloaded and loaded again at the same address, whose new slots hold
  // what the loader put there.
  bool intact() const;

 private:
  struct Slot {
    void** address;
    void* original;
    void* replacement;
  };
  std::vector<Slot> slots_;
};

}  // namespace nbwire
