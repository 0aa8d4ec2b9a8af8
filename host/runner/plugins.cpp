#include "plugins.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace nbrun {

void PlugInsAndScript(const std::vector<std::string>& arguments, std::vector<std::string>& plugIns,
                      std::string& script) {
  plugIns = arguments;
  script.clear();
  if (arguments.size() < 2) return;
  const std::string& last = arguments.back();
  if (last.size() >= 4 && _stricmp(last.c_str() + last.size() - 4, ".nbp") == 0) return;
  script = last;
  plugIns.pop_back();
}

bool LoadPlugIns(nbhost::Host& host, const std::vector<std::string>& paths, std::string* error) {
  for (const std::string& path : paths) {
    if (host.load(path, error) == nullptr) return false;
  }
  return true;
}

void ListCatalogues(const nbhost::Host& host) {
  for (const nbhost::Host::Loaded& loaded : host.plugIns()) {
    std::printf("%s (%s): %s\n", loaded.title.c_str(), loaded.publisher.c_str(), loaded.hint.c_str());
    int actions = 0;
    for (const nbhost::Registration& entry : loaded.plugIn->registrations()) {
      if (entry.number == 0) {
        std::printf("%s\n", entry.name.c_str());
      } else {
        std::printf("  %3d  %-18s %s\n", entry.number, entry.name.c_str(), entry.hint.c_str());
        ++actions;
      }
    }
    std::printf("%d actions\n", actions);
  }
}

}  // namespace nbrun
