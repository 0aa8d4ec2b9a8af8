// Import redirection: puts a function of the host between a loaded module
// and the system functions it imports.
//
// A plug-in calls the system through its import address table: each call
// jumps through the table's slot for that function, which the loader
// filled with the function's address. Writing another address into a slot
// sends the module's calls there, without changing the module's file or
// code; the replacement passes each call on to the address the slot held.
// Redirections stack: one made later sits in front of an earlier one.
#pragma once

#include <windows.h>

#include <vector>

namespace nbhooks {

// One slot to redirect: `dll`'s `function` (names as in the import table;
// the DLL name in any case) to `replacement`. `next` receives what the slot
// held (the function to pass calls on to); it stays null when the module
// does not import the function, and then no call can come.
struct Hook {
  const char* dll;
  const char* function;
  void* replacement;
  void** next;
};

// The redirections of one module, undone in reverse order when destroyed.
class ImportRedirections {
 public:
  ImportRedirections(HMODULE module, const std::vector<Hook>& hooks);
  ~ImportRedirections();
  ImportRedirections(const ImportRedirections&) = delete;
  ImportRedirections& operator=(const ImportRedirections&) = delete;

  // How many of the hooks found their slot.
  size_t redirected() const { return slots_.size(); }

 private:
  struct Slot {
    void** address;
    void* original;
  };
  std::vector<Slot> slots_;
};

// A Hook whose replacement has exactly the type of the function it stands
// for (the type of `next`), so a slip in a signature does not compile.
template <class F>
Hook Redirect(const char* dll, const char* function, F* replacement, F** next) {
  return {dll, function, reinterpret_cast<void*>(replacement), reinterpret_cast<void**>(next)};
}

}  // namespace nbhooks
