// Where the tests find the built plug-ins and the rig.
#pragma once

#include <string>

namespace wltest {

// Windows path of a file in the build's output folder ("Wirelet.nbp").
std::string OutputFile(const std::string& name);

// Windows path of the rig folder (pty links, scratch files).
std::string RigDir();

// A fresh scratch folder for one test (Windows path, no trailing slash).
std::string ScratchDir(const std::string& name);

}  // namespace wltest
