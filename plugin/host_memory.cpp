#include "host_memory.h"

namespace wl {
namespace {

class SystemMemory final : public HostMemory {
 public:
  HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) override { return ::GlobalAlloc(flags, bytes); }
  HGLOBAL GlobalFree(HGLOBAL block) override { return ::GlobalFree(block); }
};

SystemMemory systemMemory;
HostMemory* installed = nullptr;

}  // namespace

HostMemory& Memory() { return installed ? *installed : systemMemory; }

void UseMemory(HostMemory* memory) { installed = memory; }

}  // namespace wl
