#include "dispatch.h"

#include "byte_scan.h"

namespace wl {
namespace {

// An edition's entries by action number, so that a dispatch is one index
// instead of a walk through the table. Numbers past its end are walked to.
class ActionIndex {
 public:
  static constexpr int32_t kSize = 256;

  explicit ActionIndex(const Edition& edition) : edition_(&edition) {
    for (const CatalogueEntry& entry : edition) {
      const int32_t n = entry.number;
      if (n > 0 && n < kSize && byNumber_[n] == nullptr) byNumber_[n] = &entry;
    }
  }
  // Whether `number` of `edition` is answered here.
  bool covers(const Edition& edition, int32_t number) const {
    return &edition == edition_ && number > 0 && number < kSize;
  }
  const CatalogueEntry* find(int32_t number) const { return byNumber_[number]; }

 private:
  const Edition* edition_;
  const CatalogueEntry* byNumber_[kSize] = {};
};

}  // namespace

const CatalogueEntry* FindAction(const Edition& edition, int32_t number) {
  if (number == 0) return nullptr;
  // Built for the first edition asked about: a library's own, the only one
  // it ever asks about.
  static const ActionIndex index(edition);
  if (index.covers(edition, number)) return index.find(number);
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
