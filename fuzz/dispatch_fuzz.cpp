// The dispatcher's handling of what the host hands over: any number, any
// parameter text (with NUL bytes, marker forms, no text at all); a known
// number runs its handler once with the text up to its first NUL, an unknown
// one runs nothing and returns 0.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin/catalogue.h"
#include "plugin/dispatch.h"

namespace {

int calls = 0;
std::string seen;
void Record(const std::string& parameters) {
  ++calls;
  seen = parameters;
}

const wl::CatalogueEntry kEntries[] = {
    {0, "Category", nullptr, nullptr},
    {1, "one", "one", Record},
    {7, "seven", "seven", Record},
    {33, "last", "last", Record},
};
const wl::Edition kEdition = {"t", "p", "h", kEntries, 4};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  int32_t number;
  std::memcpy(&number, data, 4);
  const bool noList = data[4] & 1;
  const std::string text(reinterpret_cast<const char*>(data) + 5, size - 5);
  const std::string terminated = text + '\0';
  const char* list[1] = {terminated.c_str()};
  calls = 0;
  const int32_t result = wl::ExecAction(kEdition, number, noList ? nullptr : list);
  const std::string expected = noList ? std::string() : std::string(terminated.c_str());
  const bool marker = expected.size() >= 3 && expected.compare(0, 2, "<#") == 0 &&
                      expected.compare(expected.size() - 2, 2, "#>") == 0;
  const bool known = wl::FindAction(kEdition, number) != nullptr && number != 0;
  if (marker) {
    if (result != 1 || calls != 0) std::abort();
  } else if (known) {
    if (result != 1 || calls != 1 || seen != expected) std::abort();
  } else if (result != 0 || calls != 0) {
    std::abort();
  }
  return 0;
}
