#include "host/runner/warnings.h"

#include <climits>

#include "host/runner/script.h"
#include "plugin/params.h"
#include "serial/serial_rules.h"
#include "wire/port_names.h"

namespace nbrun {
namespace {

using Port = ActionFields::Port;

// As each handler counts its fields before it does anything (serial/,
// tcp/); the runner's tests hold every entry against both editions.
const ActionFields kFields[] = {
    {"wlCommOpen", 7, 7, "", Port::FirstField},
    {"wlCommOpenStd", 2, 2, "", Port::FirstField},
    {"wlCommClose", 1, 1, "", Port::WholeText},  // its port is read from the whole text
    {"wlCommSetBaud", 2, 2, "", Port::FirstField},
    {"wlCommSetTxBuffer", 2, 2, "", Port::FirstField},
    {"wlCommSetRxBuffer", 2, 2, "", Port::FirstField},
    {"wlCommSend", 2, 2, "", Port::FirstField},
    {"wlCommSendCRLF", 2, 2, "", Port::FirstField},
    {"wlCommSendASCII", 2, INT_MAX, "", Port::FirstField},
    {"wlCommSendSpecial", 2, 2, "|", Port::FirstField},
    {"wlCommRxByte", 3, 3, "", Port::FirstField},
    {"wlCommRxS", 3, 3, "", Port::FirstField},
    {"wlCommRx", 3, 3, "", Port::FirstField},
    {"wlCommRxF", 3, 3, "", Port::FirstField},
    {"wlCommRxLine", 3, 3, "", Port::FirstField},
    {"wlCommRxFlush", 1, 1, "", Port::FirstField},
    {"wlCommRxCount", 2, 2, "", Port::FirstField},
    {"wlCommGetBaud", 2, 2, "", Port::FirstField},
    {"wlCommXonXoff", 2, 2, "", Port::FirstField},
    {"wlCommSetCTSflow", 2, 2, "", Port::FirstField},
    {"wlCommSetDSRflow", 2, 2, "", Port::FirstField},
    {"wlCommSetDTRflow", 2, 2, "", Port::FirstField},
    {"wlCommSetRTSflow", 2, 2, "", Port::FirstField},
    {"wlCommFlowReset", 1, 1, "", Port::FirstField},
    {"wlTCPopen", 3, 3, "", Port::None},
};

bool Is(const std::string& action, const char* name) { return LowerCase(action) == LowerCase(name); }


std::string FieldsText(const ActionFields& fields) {
  std::string count = std::to_string(fields.least);
  if (fields.most != fields.least) count += " or more";
  count += fields.least == 1 && fields.most == 1 ? " field" : " fields";
  if (fields.delimiter[0] != '\0') count += std::string(" separated by \"") + fields.delimiter + "\"";
  return count;
}

// The range PortInRange accepts, for the message: the rule stays the
// engine's, in one place.
std::string PortRange() {
  static const std::string range = [] {
    int64_t first = 0, last = 0;
    for (int64_t port = 0; port <= 65536; ++port) {
      if (!wl::PortInRange(port)) continue;
      if (first == 0) first = port;
      last = port;
    }
    return std::to_string(first) + " to " + std::to_string(last);
  }();
  return range;
}

int64_t PortOf(const ActionFields& fields, const std::string& parameters) {
  const std::string text =
      fields.port == Port::WholeText ? parameters : wl::SplitFields(parameters, fields.delimiter)[0];
  return wl::ToInteger(wl::ReadNumber(text));
}

bool IsOpen(const std::string& action) {
  return Is(action, "wlCommOpen") || Is(action, "wlCommOpenStd") || Is(action, "wlTCPopen");
}

}  // namespace

const ActionFields* FieldsOf(const std::string& action) {
  for (const ActionFields& fields : kFields) {
    if (Is(action, fields.action)) return &fields;
  }
  return nullptr;
}

std::string QuietlyIgnored(const std::string& action, const std::string& parameters) {
  const ActionFields* fields = FieldsOf(action);
  if (!fields) return std::string();
  const int count = wl::CountFields(parameters, fields->delimiter);
  if (count < fields->least || count > fields->most) {
    return std::string(fields->action) + " takes " + FieldsText(*fields) + ", " + Quoted(parameters) +
           " has " + std::to_string(count) + ": the plug-in does nothing and sets no variable";
  }
  if (fields->port != Port::None) {
    const int64_t port = PortOf(*fields, parameters);
    if (!wl::PortInRange(port)) {
      return "port " + std::to_string(port) + " is outside " + PortRange() +
             ", the ports the plug-ins take: the plug-in does nothing and sets no variable";
    }
  }
  if (Is(action, "wlTCPopen") && wl::FieldInteger(wl::SplitFields(parameters)[2]) <= 0) {
    return "wlTCPopen with time-out " + Quoted(wl::SplitFields(parameters)[2]) +
           ": every receive waits without end on a server that sends nothing (the time-out is in "
           "1/1024 s: 1024 is one second)";
  }
  return std::string();
}

std::string OpenedPlace(const std::string& action, const std::string& parameters) {
  if (!IsOpen(action)) return std::string();
  const std::vector<std::string> fields = wl::SplitFields(parameters);
  const ActionFields& taken = *FieldsOf(action);
  const int count = static_cast<int>(fields.size());
  if (count < taken.least || count > taken.most) return std::string();
  if (!Is(action, "wlTCPopen")) {
    const int64_t port = PortOf(taken, parameters);
    return wl::PortInRange(port) ? nbwire::PortOfFileName(wl::PortDeviceName(port, fields[0])) : std::string();
  }
  const int32_t port = wl::FieldInteger(fields[1]);
  if (port < 1 || port > 65535) return std::string();
  nbwire::ServerAddress address;
  address.host = fields[0];
  address.port = static_cast<uint16_t>(port);
  return nbwire::ServerName(address);
}

bool SamePlace(const std::string& a, const std::string& b) {
  nbwire::Place first, second;
  return nbwire::ParsePlace(a, first) && nbwire::ParsePlace(b, second) && nbwire::SamePlace(first, second);
}

std::vector<std::string> ProgramWarnings(const Program& program, const Preset& preset,
                                         const std::vector<std::string>& devices) {
  std::vector<std::string> warnings;
  std::vector<std::string> opened;
  bool anyPort = false, anyServer = false;  // an open whose place only the run knows
  for (const Line& line : program.lines) {
    const Statement& statement = line.statement;
    if (statement.kind != StatementKind::Action) continue;
    bool unknown = false;
    const std::string parameters =
        Substitute(statement.arguments.empty() ? "" : statement.arguments[0], [&](const std::string& name) {
          std::string value;
          if (!preset || !preset(name, value)) unknown = true;
          return value;
        });
    if (unknown) {
      if (IsOpen(statement.name)) (Is(statement.name, "wlTCPopen") ? anyServer : anyPort) = true;
      continue;
    }
    const std::string why = QuietlyIgnored(statement.name, parameters);
    if (!why.empty()) warnings.push_back(program.where(line) + ": " + why);
    const std::string place = OpenedPlace(statement.name, parameters);
    if (!place.empty()) opened.push_back(place);
  }
  for (const std::string& device : devices) {
    if (nbwire::NamedPort(device).empty() ? anyServer : anyPort) continue;
    bool reached = false;
    for (const std::string& place : opened) reached = reached || SamePlace(device, place);
    if (!reached) warnings.push_back(NeverOpened(device, false));
  }
  return warnings;
}

std::string NeverOpened(const std::string& place, bool ran) {
  return "--device " + place + (ran ? ": the run never opened " : ": no line of the script opens ") + place +
         ", so the device " + (ran ? "played" : "plays") + " for no one";
}

}  // namespace nbrun
