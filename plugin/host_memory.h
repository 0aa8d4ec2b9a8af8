// The memory the frame hands to the host: the identification texts go into
// GlobalAlloc blocks that become the host's, and a block a slot held is
// released with GlobalFree. These two are the frame's only system calls, so
// a plug-in built on the frame alone (Wirebench) carries none of the comm
// engine's; tests put their own here to count the blocks or refuse one.
#pragma once

#include <windows.h>

namespace wl {

class HostMemory {
 public:
  virtual ~HostMemory() = default;
  virtual HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) = 0;
  virtual HGLOBAL GlobalFree(HGLOBAL block) = 0;
};

// The HostMemory in use: the system's unless a test installed another.
HostMemory& Memory();

// Installs `memory` for every later block; nullptr restores the system's.
void UseMemory(HostMemory* memory);

}  // namespace wl
