// ReadNumber, ToInteger, NumberText and FieldInteger on any field: no
// undefined behaviour, and a whole number written by NumberText reads back
// as itself.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plugin/params.h"

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
  return 0;
}
