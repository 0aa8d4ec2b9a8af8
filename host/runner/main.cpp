// Minimal runner until the full one lands: loads a plug-in and lists its catalogue.
#include <cstdio>

#include "host/nbhost.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: nbrun PLUGIN.nbp\n");
    return 2;
  }
  nbhost::PlugIn p;
  std::string error;
  if (!p.load(argv[1], &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  p.registerPlugIn();
  for (const auto& r : p.registrations()) std::printf("%3d %s\n", r.number, r.name.c_str());
  return 0;
}
