// The frame every serial action runs in: the field count is checked, the
// port number read and checked (either failing ends the action silently),
// the action's error number starts at 0 and is published in wlCommErr at
// the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wl {

struct FieldCount {
  int least;
  int most;
};
constexpr FieldCount Exactly(int n) { return {n, n}; }
constexpr FieldCount AtLeast(int n) { return {n, 1 << 30}; }

struct SerialFrame {
  SerialFrame();
  ~SerialFrame();
  SerialFrame(const SerialFrame&) = delete;
  SerialFrame& operator=(const SerialFrame&) = delete;

  std::vector<std::string> fields;
  int16_t port = 0;
  int errorNumber = 0;

  // The number in field k (0-based): read, rounded, low 32 bits.
  int32_t number(size_t k) const;
  // The port's device name built from the port field's own text.
  std::string deviceName() const;
  // wlCommErr := the error number.
  void publish() const;

 private:
  bool holdsSpare_ = false;
};

// Splits `parameters` (by the comma rule, or by `delimiter`) into `frame`;
// false when the field count or the port number ends the action.
bool BeginSerialAction(const std::string& parameters, FieldCount count, SerialFrame& frame,
                       const std::string& delimiter = std::string());

}  // namespace wl
