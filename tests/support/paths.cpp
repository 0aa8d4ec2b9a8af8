#include "paths.h"

#include <windows.h>

namespace wltest {

// Wine shows the machine's root as drive Z:.
std::string OutputFile(const std::string& name) { return std::string("Z:") + WL_OUT_DIR + "/" + name; }

std::string RigDir() { return std::string("Z:") + WL_RIG_DIR; }

std::string ScratchDir(const std::string& name) {
  std::string dir = RigDir() + "/scratch";
  CreateDirectoryA(dir.c_str(), nullptr);
  dir += "/" + name;
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

}  // namespace wltest
