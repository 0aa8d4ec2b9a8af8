// Faulty.nbp: a plug-in whose actions fail as no shipped one should, so the
// runner's tests can see what it does when a run crashes or memory runs out.
//   crash     writes to address 0 (an access violation)
//   overflow  recurses until the stack is gone
//   hog       reserves every free range of the address space, so the next
//             large allocation in the process fails
#include <windows.h>

#include "plugin/catalogue.h"

namespace wl {
namespace {

void Crash(const std::string&) {
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
}

volatile int g_limit = -1;  // never reached: no limit

// Not a tail call, and each frame holds half a page (less than a page, so
// the compiler adds no stack probe and the fault is in this code): the
// guard page is reached.
int Deeper(int n) {
  volatile char frame[2048];
  frame[0] = static_cast<char>(n);
  if (n == g_limit) return 0;
  return Deeper(n + 1) + frame[0];
}

void Overflow(const std::string&) { Deeper(0); }

void Hog(const std::string&) {
  for (SIZE_T size = SIZE_T(1) << 30; size >= 65536;) {
    if (VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS) == nullptr) size /= 2;
  }
}

const CatalogueEntry kCatalogue[] = {
    {0, "Faults", nullptr, nullptr},
    {1, "crash", "crash: an access violation", Crash},
    {2, "overflow", "overflow: a stack overflow", Overflow},
    {3, "hog", "hog: the address space taken", Hog},
};

const Edition kFaulty = {"Faulty", "Wirelet tests", "Fails on purpose", kCatalogue,
                         sizeof kCatalogue / sizeof kCatalogue[0]};

}  // namespace

const Edition& ThisEdition() { return kFaulty; }

}  // namespace wl
