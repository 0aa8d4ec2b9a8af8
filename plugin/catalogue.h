// An edition's list of actions: the one table that drives registration,
// dispatch and the edit answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wl {

// Runs one action on its own copy of the parameter text; reports only
// through host variables.
using ActionHandler = void (*)(const std::string& parameters);

struct CatalogueEntry {
  int32_t number;         // 0 for a category entry
  const char* name;       // action name, or the category's title
  const char* hint;       // nullptr for a category entry
  ActionHandler handler;  // nullptr for a category entry
};

struct Edition {
  const char* title;
  const char* publisher;
  const char* hint;
  const CatalogueEntry* entries;  // in registration order
  size_t entryCount;
  // Called when the library is unloaded before the process ends (nullptr:
  // nothing to release). It may make kernel32 calls only: it runs under the
  // loader lock.
  void (*unload)() = nullptr;

  const CatalogueEntry* begin() const { return entries; }
  const CatalogueEntry* end() const { return entries + entryCount; }
};

// The edition this library is; each edition defines it once.
const Edition& ThisEdition();

// The entry of an action number (category entries never match), or nullptr.
const CatalogueEntry* FindAction(const Edition& edition, int32_t number);

}  // namespace wl
