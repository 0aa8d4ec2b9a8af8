#include "host/runner/variables.h"

#include "host/runner/script.h"

namespace nbrun {

std::string Variables::get(const std::string& name) const {
  const auto found = values_.find(LowerCase(name));
  return found == values_.end() ? std::string() : found->second;
}

void Variables::set(const std::string& name, const std::string& value) {
  values_[LowerCase(name)] = value;
}

bool ReadAssignment(const std::string& text, std::string& name, std::string& value) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  name = VariableName(text.substr(0, equals));
  value = text.substr(equals + 1);
  return !name.empty();
}

}  // namespace nbrun
