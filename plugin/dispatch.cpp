#include "dispatch.h"

#include "byte_scan.h"

namespace wl {

const CatalogueEntry* FindAction(const Edition& edition, int32_t number) {
  if (number == 0) return nullptr;
  for (const CatalogueEntry& entry : edition) {
    if (entry.number == number) return &entry;
  }
  return nullptr;
}

std::string CopyParameterText(const char* const* parameterList) {
  if (parameterList == nullptr || parameterList[0] == nullptr) return std::string();
  const char* text = parameterList[0];
  return std::string(text, TextLength(text, kMaxParameterText));
}

bool IsMarkerForm(const std::string& text) {
  const size_t n = text.size();
  return n >= 3 && text.compare(0, 2, "<#") == 0 && text.compare(n - 2, 2, "#>") == 0;
}

int32_t ExecAction(const Edition& edition, int32_t number, const char* const* parameterList) {
  const std::string parameters = CopyParameterText(parameterList);
  if (IsMarkerForm(parameters)) return 1;
  const CatalogueEntry* entry = FindAction(edition, number);
  if (entry == nullptr) return 0;
  if (entry->handler) entry->handler(parameters);
  return 1;
}

int32_t EditAction(const Edition& edition, int32_t number) {
  return FindAction(edition, number) ? 1 : 0;
}

}  // namespace wl
