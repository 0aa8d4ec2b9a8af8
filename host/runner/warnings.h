// What the comm plug-ins do without a word: an action whose parameter has
// another number of fields than the action takes, or names a port outside
// those the plug-ins take, does nothing and sets no variable; a TCP
// connection opened with time-out 0 lets a receive wait for ever on a
// server that sends nothing; a --device place no open reaches plays for no
// one. The runner names each as a warning, at --check from the lines as
// written and while a run goes from the parameters as they are sent.
// Pure code: no Windows here.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/runner/program.h"

namespace nbrun {

// The fields a comm action takes, as its handler counts them: from `least`
// to `most`, split by the comma rule or by `delimiter`.
struct ActionFields {
  const char* action;
  int least, most;
  const char* delimiter;  // "" for the comma rule
  enum Port { None, FirstField, WholeText } port;  // where the port number is read
};

// The entry for `action` (in any case), or nullptr for an action that takes
// its parameter whole or is no comm action.
const ActionFields* FieldsOf(const std::string& action);

// What the plug-in will quietly ignore in this action's parameter text (or
// let wait without end), or empty text.
std::string QuietlyIgnored(const std::string& action, const std::string& parameters);

// The place an open action reaches with this parameter text ("COM3",
// "127.0.0.7:7000"), or empty text for any other action, or an open that
// does nothing.
std::string OpenedPlace(const std::string& action, const std::string& parameters);

// Whether two places are one: a port however it is written (COM1, com1,
// \\.\COM1), a server by host in any case and port.
bool SamePlace(const std::string& a, const std::string& b);

// A variable's value before the run (--set); false when nothing gives one.
using Preset = std::function<bool(const std::string& name, std::string& value)>;

// --check: the warnings of a loaded program, each naming its line; a
// parameter that holds a variable no preset gives is passed over. Each of
// `devices` (--device places) that no open line can reach is named too.
std::vector<std::string> ProgramWarnings(const Program& program, const Preset& preset,
                                         const std::vector<std::string>& devices);

// The warning for a device no open reaches (`ran`: no open that ran reached).
std::string NeverOpened(const std::string& place, bool ran);

}  // namespace nbrun
