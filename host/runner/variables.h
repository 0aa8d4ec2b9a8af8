// The host's variables as a script sees them. As in NeoBook, a name matches
// whatever the case of its letters A to Z: [Weight], [weight] and [WEIGHT]
// are one variable, whoever set it (a plug-in, SetVar, --set). An unset
// variable reads as empty text.
// Pure code: no Windows here.
#pragma once

#include <map>
#include <string>

namespace nbrun {

class Variables {
 public:
  std::string get(const std::string& name) const;
  void set(const std::string& name, const std::string& value);

 private:
  std::map<std::string, std::string> values_;  // by the name in lower case
};

// "NAME=VALUE" as --set takes it, the brackets around NAME optional as in
// SetVar ("[port]=3" sets port). False when there is no "=" or no name.
bool ReadAssignment(const std::string& text, std::string& name, std::string& value);

}  // namespace nbrun
