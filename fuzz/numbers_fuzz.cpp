// ReadNumber, ToInteger, NumberText and FieldInteger on any field: no
// undefined behaviour, a whole number written by NumberText reads back as
// itself, and a plain run of digits reads as strtold reads it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plugin/params.h"

// True when `field` is an optional sign and digits, nothing else.
bool PlainDigits(const std::string& field) {
  const size_t first = !field.empty() && (field[0] == '+' || field[0] == '-') ? 1 : 0;
  if (field.size() == first) return false;
  for (size_t i = first; i < field.size(); ++i) {
    if (field[i] < '0' || field[i] > '9') return false;
  }
  return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string field(reinterpret_cast<const char*>(data), size);
  const long double number = wl::ReadNumber(field);
  const int64_t whole = wl::ToInteger(number);
  wl::FieldInteger(field);
  const std::string text = wl::NumberText(whole);
  if (text.empty() || (whole >= 0 && text[0] != ' ')) std::abort();
  if (wl::ToInteger(wl::ReadNumber(text)) != whole) std::abort();
  if (!std::isnan(number) && std::fabs(number) < 1e15L &&
      std::fabs(static_cast<long double>(whole) - number) > 0.5L) {
    std::abort();  // rounding moves a number by half at most
  }
  if (PlainDigits(field) && number != std::strtold(field.c_str(), nullptr)) std::abort();
  return 0;
}
