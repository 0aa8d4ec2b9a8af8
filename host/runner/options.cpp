#include "host/runner/options.h"

#include <cstring>

#include "host/runner/expression.h"
#include "host/runner/plugins.h"
#include "host/runner/variables.h"

namespace nbrun {
namespace {

const int kMaxSeconds = 1000000;

struct OptionForm {
  const char* name;
  const char* value;  // what it takes ("N", "[=FILE]"), nullptr for none
  const char* what;   // its usage; "\n" starts a line of its own
  bool Options::*flag;  // what an option without a value sets
};

const OptionForm kOptions[] = {
    {"--help", nullptr, "print this help", &Options::help},
    {"--list", nullptr, "print each plug-in's actions under their categories", &Options::list},
    {"--ports", nullptr, "print the COM ports this machine has", &Options::ports},
    {"--trace", nullptr, "print each action's number, parameter text, result\nand time",
     &Options::trace},
    {"--quiet", nullptr, "print only what the script prints, not each variable set",
     &Options::quiet},
    {"--check", nullptr,
     "read the plug-ins, device files and script, report\n"
     "mistakes and what the plug-ins would quietly ignore;\n"
     "run nothing",
     &Options::check},
    {"--strict", nullptr,
     "a warning is a mistake: the run stops before a line\n"
     "the plug-in would quietly ignore (exit 2)",
     &Options::strict},
    {"--results", "FILE",
     "write each Expect the run carries out, and how the\n"
     "run ended, to FILE as JUnit XML for a build to read",
     nullptr},
    {"--set", "NAME=VALUE", "set a variable before the run (NAME or [NAME])", nullptr},
    {"--max-seconds", "N", "end a run still going after N seconds (exit 3)", nullptr},
    {"--spy", "[=FILE]",
     "show every exchange with ports, files and the\n"
     "connection (bytes, times, pieces, settings), or\n"
     "write it to FILE",
     nullptr},
    {"--device", "PLACE=FILE",
     "play the device FILE describes on PLACE, a port\n"
     "(COM3) or a TCP server (127.0.0.7:5000); repeatable",
     nullptr},
    {"--seed", "N",
     "start every played device's random choices (delays\n"
     "in a range, faults, noise) from N instead of its\n"
     "file's seed: the same N, the same run",
     nullptr},
    {"--spy-to-device", "LOG",
     "print a device file that answers as the device in a\n"
     "--spy log did (PLACE=LOG: as the one on PLACE did)",
     nullptr},
    {"--view", "LOG",
     "write the page that shows the log's exchanges on a\n"
     "time line, to PAGE.html when that follows, else to\n"
     "the log's name with .html",
     nullptr},
};

const char kCommandLine[] = "usage: nbrun [options] PLUGIN.nbp [PLUGIN.nbp...] [SCRIPT]\n";
const char kSeeHelp[] = "nbrun --help shows every option\n";

const char kScriptLines[] =
    "script lines:\n"
    "  wlCommOpenStd \"1,9600\"     an action; \"\" inside the quotes is one double quote\n"
    "  SetVar \"[name]\" \"text\"     Print \"text\"     Pause \"ms\"\n"
    "  Expect \"[name]\" \"text\"     stops the run (exit 1) unless both agree\n"
    "  If \"a\" \"op\" \"b\" / Else / EndIf     op: = <> > < >= <=\n"
    "  While \"a\" \"op\" \"b\" / EndWhile     Loop \"1\" \"3\" \"[i]\" / EndLoop     ExitLoop\n"
    "  :label     GotoLine \"label\"     Math \"([a]+1)*2\" \"decimals\" \"[result]\"\n"
    "  StrLen \"text\" \"[n]\"     SubStr \"text\" \"start\" \"length\" \"[part]\"\n"
    "  SearchStr \"find\" \"text\" \"[pos]\"     StrUpper / StrLower \"text\" \"[result]\"\n"
    "  StrParse \"a,b\" \",\" \"[item]\" \"[n]\"   AlertBox \"title\" \"message\"\n"
    "  # comment                  [name] anywhere is replaced by the variable's value\n"
    "                             (names ignore case, as in NeoBook); [item[i]] reads\n"
    "                             the inner name first, [#13] is the byte 13\n"
    "Every end of a run closes the ports and the connection it left open.\n"
    "exit: 0 done, 1 an Expect failed, 2 a mistake in the script, its files or the\n"
    "  options, a run-time error, or with --strict a warning, 3 --max-seconds ran\n"
    "  out, 4 Ctrl+C, 5 the runner failed (a crash, in the runner or a plug-in, or\n"
    "  out of memory)\n";

const OptionForm* Find(const std::string& name) {
  for (const OptionForm& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

// "  --max-seconds N    end a run ...", its later lines under the first.
std::string UsageLine(const OptionForm& option) {
  std::string head = std::string("  ") + option.name;
  if (option.value) head += (option.value[0] == '[' ? "" : " ") + std::string(option.value);
  const std::string indent(23, ' ');
  std::string text = head.size() < indent.size() ? head + std::string(indent.size() - head.size(), ' ')
                                                 : head + "\n" + indent;
  for (const char* c = option.what; *c; ++c) {
    text += *c;
    if (*c == '\n') text += indent;
  }
  return text + "\n";
}

// What is wrong, then the usage of the option concerned and where the rest is.
std::string Mistake(const std::string& what, const OptionForm* option) {
  std::string text = what + "\n";
  if (option) {
    text += std::string("usage: nbrun ") + option->name +
            (option->value ? std::string(option->value[0] == '[' ? "" : " ") + option->value : "") +
            " ... PLUGIN.nbp... [SCRIPT]\n" + UsageLine(*option);
  } else {
    text += kCommandLine;
  }
  return text + kSeeHelp;
}

// The options a mistyped one may have meant: one that begins with it
// (--res), or that it begins with (--checks).
std::string Nearest(const std::string& given) {
  for (const OptionForm& option : kOptions) {
    const std::string name = option.name;
    if (name.rfind(given, 0) == 0 || given.rfind(name, 0) == 0) return name;
  }
  return std::string();
}

// "--results=FILE" as "--results" "FILE", for each option that takes a
// value after a blank; --spy takes its file after the "=" itself.
std::vector<std::string> Arguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t equals = arg.find('=');
    const OptionForm* option = arg.rfind("--", 0) == 0 && equals != std::string::npos
                                   ? Find(arg.substr(0, equals))
                                   : nullptr;
    if (option && option->value && option->value[0] != '[') {
      arguments.push_back(arg.substr(0, equals));
      arguments.push_back(arg.substr(equals + 1));
    } else {
      arguments.push_back(arg);
    }
  }
  return arguments;
}

// Takes the valued option at `at` (not a wire option); false with `error`.
bool TakeValue(const std::string& name, const std::string& value, Options& options, std::string& error) {
  if (name == "--set") {
    std::string variable, text;
    if (ReadAssignment(value, variable, text)) {
      options.presets.emplace_back(variable, text);
      return true;
    }
    error = "--set takes NAME=VALUE, not \"" + value + "\"";
  } else if (name == "--max-seconds") {
    if (ReadWholeNumber(value, options.maxSeconds) && options.maxSeconds >= 1 &&
        options.maxSeconds <= kMaxSeconds) {
      return true;
    }
    error = "--max-seconds takes a whole number of seconds from 1 to " + std::to_string(kMaxSeconds) +
            ", not \"" + value + "\"";
  } else if (name == "--results") {
    if (!value.empty()) {
      options.results = value;
      return true;
    }
    error = "--results takes the name of the file to write";
  } else if (name == "--view") {
    if (!value.empty()) {
      options.viewLog = value;
      return true;
    }
    error = "--view takes the name of a spy log";
  }
  return false;
}

bool IsPageName(const std::string& name) {
  return name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0;
}

// What a wire option takes, for the message when its value is malformed.
std::string WireOptionForm(const std::string& option) {
  if (option == "--device") {
    return "--device takes PLACE=FILE, a port (COM1, COM12) or a server (127.0.0.7:5000)";
  }
  if (option == "--spy-to-device") return "--spy-to-device takes [PLACE=]LOG";
  if (option == "--seed") return "--seed takes a whole number from 0 to 4294967295";
  return option + " is malformed";
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  const std::vector<std::string> arguments = Arguments(argc, argv);
  std::vector<char*> wireArgs = {argv[0]};
  for (const std::string& arg : arguments) wireArgs.push_back(const_cast<char*>(arg.c_str()));
  const int count = static_cast<int>(wireArgs.size());
  std::vector<std::string> positional;
  for (int i = 1; i < count; ++i) {
    const std::string arg = wireArgs[i];
    const std::string name = arg.substr(0, arg.rfind("--spy=", 0) == 0 ? 5 : std::string::npos);
    const OptionForm* option = Find(name);
    if (!option) {
      if (arg.rfind("--", 0) != 0) {
        positional.push_back(arg);
        continue;
      }
      const std::string nearest = Nearest(arg);
      error = Mistake("there is no option " + arg + (nearest.empty() ? "" : ": " + nearest + "?"),
                      Find(nearest));
      return false;
    }
    const bool valued = option->value && option->value[0] != '[';
    if (valued && i + 1 == count) {
      error = Mistake(name + " needs a value", option);
      return false;
    }
    if (const int taken = TakeWireOption(count, wireArgs.data(), i, options.wire)) {
      if (taken < 0) {
        const std::string value = i + 1 < count ? wireArgs[i + 1] : "";
        error = Mistake(taken == -2 ? "a second --device for the place of \"" + value +
                                          "\": one device plays a port or server"
                                    : WireOptionForm(name) + ", not \"" + value + "\"",
                        option);
        return false;
      }
      i += taken - 1;
    } else if (valued) {
      if (!TakeValue(name, wireArgs[++i], options, error)) {
        error = Mistake(error, option);
        return false;
      }
      if (name == "--view" && i + 1 < count && IsPageName(wireArgs[i + 1])) {
        options.viewPage = wireArgs[++i];
      }
    } else {
      options.*option->flag = true;
    }
  }
  PlugInsAndScript(positional, options.plugIns, options.script);
  if (options.help || options.ports || !options.plugIns.empty() || !options.wire.spyToDevice.empty() ||
      !options.viewLog.empty()) {
    return true;
  }
  error = Mistake("name a plug-in", nullptr);
  return false;
}

std::string Usage() {
  std::string text = std::string(kCommandLine) +
                     "  Runs SCRIPT (one action or statement per line, the last argument)\n"
                     "  against the plug-ins, each action on the plug-in that has it;\n"
                     "  without SCRIPT, reads lines at a prompt (\"quit\" ends it).\n"
                     "options:\n";
  for (const OptionForm& option : kOptions) text += UsageLine(option);
  return text + kScriptLines;
}

}  // namespace nbrun
