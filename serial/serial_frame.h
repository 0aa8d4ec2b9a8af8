// The frame every serial action runs in: the field count is checked, the
// port number read and checked (either failing ends the action silently),
// the action's error number starts at 0 and is published in wlCommErr at
// the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/spare.h"

namespace wl {

struct FieldCount {
  int least;
  int most;
};
constexpr FieldCount Exactly(int n) { return {n, n}; }
constexpr FieldCount AtLeast(int n) { return {n, 1 << 30}; }

struct SerialFrame {
 private:
  Spare<std::vector<std::string>> spareFields_;

 public:
  // The split fields, in a list lent from frame to frame.
  std::vector<std::string>& fields = spareFields_.value;
  int16_t port = 0;
  int errorNumber = 0;

  // The number in field k (0-based): read, rounded, low 32 bits.
  int32_t number(size_t k) const;
  // The port's device name built from the port field's own text.
  std::string deviceName() const;
  // wlCommErr := the error number.
  void publish() const;
};

// Splits `parameters` (by the comma rule, or by `delimiter`) into `frame`;
// false when the field count or the port number ends the action.
bool BeginSerialAction(const std::string& parameters, FieldCount count, SerialFrame& frame,
                       const std::string& delimiter = std::string());

}  // namespace wl
