// A container lent from action to action, so that its room is reused: an
// allocation costs more than the rest of a short action's own work.
#pragma once

#include <atomic>
#include <cstddef>

namespace wl {

// One borrower holds the kept container at a time, whatever the thread; one
// that comes while another holds it starts with a fresh container. The
// container goes back empty, and without its room when that grew past
// kMostKept elements, so a long line or a huge text is not kept for ever.
template <class Container>
class Spare {
 public:
  static constexpr size_t kMostKept = 4096;

  Spare() {
    if (!Taken().exchange(true, std::memory_order_acquire)) {
      value.swap(Kept());
      holds_ = true;
    }
  }
  ~Spare() {
    if (!holds_) return;
    value.clear();
    if (value.capacity() <= kMostKept) value.swap(Kept());
    Taken().store(false, std::memory_order_release);
  }
  Spare(const Spare&) = delete;
  Spare& operator=(const Spare&) = delete;

  Container value;

 private:
  static Container& Kept() {
    static Container kept;
    return kept;
  }
  static std::atomic<bool>& Taken() {
    static std::atomic<bool> taken{false};
    return taken;
  }
  bool holds_ = false;
};

}  // namespace wl
