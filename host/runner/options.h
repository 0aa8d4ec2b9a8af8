// nbrun's command line: one table of its options, each with the value it
// takes and the line of usage that says what it does, read by the parser,
// by --help and by the message for a mistake. A mistake names the option and
// shows that option's usage alone, with a pointer to --help for the rest.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/runner/wire.h"

namespace nbrun {

struct Options {
  bool help = false;
  bool list = false;
  bool ports = false;
  bool trace = false;
  bool quiet = false;
  bool check = false;
  bool strict = false;
  int maxSeconds = 0;
  std::string results;  // --results FILE: JUnit XML
  std::string viewLog, viewPage;  // --view LOG [PAGE.html]
  std::vector<std::string> plugIns;
  std::string script;
  std::vector<std::pair<std::string, std::string>> presets;
  WireOptions wire;
};

// False with the message for the mistake in `error`: what was wrong, then
// the usage of the option concerned.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

// Every option and the script's statements, for --help.
std::string Usage();

}  // namespace nbrun
