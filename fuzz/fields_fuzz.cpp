// CountFields and SplitFields, by the comma rule and with a delimiter: the
// two always agree on the count, and splitting never reads outside the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plugin/params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the rule: even the comma rule, odd a delimiter
  // (the next byte, "|" when there is none).
  const bool delimited = data[0] & 1;
  std::string delimiter;
  size_t start = 1;
  if (delimited) {
    delimiter = size > 1 ? std::string(1, static_cast<char>(data[1])) : "|";
    start = size > 1 ? 2 : 1;
  }
  const std::string text(reinterpret_cast<const char*>(data) + start, size - start);
  const int count = wl::CountFields(text, delimiter);
  const auto fields = wl::SplitFields(text, delimiter);
  if (count < 1 || static_cast<size_t>(count) != fields.size()) std::abort();
  size_t total = 0;
  for (const std::string& field : fields) total += field.size();
  if (total > text.size()) std::abort();  // fields are pieces of the text
  return 0;
}
