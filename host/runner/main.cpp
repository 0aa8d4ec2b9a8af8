// nbrun: plays the authoring application's part for plug-ins, so a device
// dialogue can be tried without the application. It loads one or more
// .nbp files (plugins.h), registers them, and runs a script of actions (or
// a prompt, one line at a time), printing every variable a plug-in sets as
// it is set (runner.h). Its wire options (wire.h) show the bytes the comm
// plug-ins exchange and play devices for them.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "host/nbhost.h"
#include "host/runner/expression.h"
#include "host/runner/failure.h"
#include "host/runner/plugins.h"
#include "host/runner/program.h"
#include "host/runner/prompt.h"
#include "host/runner/runner.h"
#include "host/runner/script.h"
#include "host/runner/variables.h"
#include "host/runner/wire.h"
#include "wire/files.h"
#include "wire/spy_log.h"
#include "wire/spy_view.h"

namespace {

const int kDone = static_cast<int>(nbrun::Outcome::Done);
const int kFailure = static_cast<int>(nbrun::Outcome::Failed);

const char kUsage[] =
    "usage: nbrun [options] PLUGIN.nbp [PLUGIN.nbp...] [SCRIPT]\n"
    "  Runs SCRIPT (one action or statement per line, the last argument)\n"
    "  against the plug-ins, each action on the plug-in that has it;\n"
    "  without SCRIPT, reads lines at a prompt (\"quit\" ends it).\n"
    "options:\n"
    "  --list             print each plug-in's actions under their categories\n"
    "  --ports            print the COM ports this machine has\n"
    "  --trace            print each action's number, parameter text, result and time\n"
    "  --quiet            print only what the script prints, not each variable set\n"
    "  --check            read the plug-ins, device files and script and report their\n"
    "                     mistakes; run nothing\n"
    "  --set NAME=VALUE   set a variable before the run (NAME or [NAME])\n"
    "  --max-seconds N    end a run still going after N seconds (exit 3)\n"
    "  --spy[=FILE]       show every exchange with ports, files and the connection\n"
    "                     (bytes, times, pieces, settings), or write it to FILE\n"
    "  --device PLACE=FILE  play the device FILE describes on PLACE, a port\n"
    "                     (COM3) or a TCP server (127.0.0.7:5000); repeatable\n"
    "  --spy-to-device [PLACE=]LOG  print a device file that answers as the\n"
    "                     device in a --spy log did\n"
    "  --view LOG [PAGE.html]  write the page that shows the log's exchanges on a\n"
    "                     time line (PAGE: the log's name with .html)\n"
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
    "  options, or a run-time error, 3 --max-seconds ran out, 4 Ctrl+C,\n"
    "  5 the runner failed (a crash, in the runner or a plug-in, or out of memory)\n";

const int kMaxSeconds = 1000000;

struct Options {
  bool list = false;
  bool ports = false;
  bool trace = false;
  bool quiet = false;
  bool check = false;
  int maxSeconds = 0;
  std::vector<std::string> plugIns;
  std::string script;
  std::vector<std::pair<std::string, std::string>> presets;
  nbrun::WireOptions wire;
  std::string viewLog, viewPage;  // --view
};

// What a wire option takes, for the message when its value is malformed.
std::string WireOptionForm(const std::string& option) {
  if (option == "--device") {
    return "--device takes PLACE=FILE, a port (COM1, COM12) or a server (127.0.0.7:5000)";
  }
  if (option == "--spy-to-device") return "--spy-to-device takes [PLACE=]LOG";
  return option + " is malformed";
}

// False with what was wrong in `error`.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool valued = arg == "--set" || arg == "--max-seconds";
    if (valued && i + 1 == argc) {
      error = arg + " needs a value";
      return false;
    }
    if (arg == "--list") {
      options.list = true;
    } else if (arg == "--ports") {
      options.ports = true;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--check") {
      options.check = true;
    } else if (arg == "--set") {
      std::string name, value;
      if (!nbrun::ReadAssignment(argv[++i], name, value)) {
        error = "--set takes NAME=VALUE, not \"" + std::string(argv[i]) + "\"";
        return false;
      }
      options.presets.emplace_back(name, value);
    } else if (arg == "--max-seconds") {
      if (!nbrun::ReadWholeNumber(argv[++i], options.maxSeconds) || options.maxSeconds < 1 ||
          options.maxSeconds > kMaxSeconds) {
        error = "--max-seconds takes a whole number of seconds from 1 to " +
                std::to_string(kMaxSeconds) + ", not \"" + argv[i] + "\"";
        return false;
      }
    } else if (arg == "--view") {
      if (i + 1 == argc) {
        error = "--view takes LOG [PAGE.html]";
        return false;
      }
      options.viewLog = argv[++i];
      const std::string page = i + 1 < argc ? argv[i + 1] : "";
      if (page.size() > 5 && page.compare(page.size() - 5, 5, ".html") == 0) options.viewPage = argv[++i];
    } else if (const int taken = nbrun::TakeWireOption(argc, argv, i, options.wire)) {
      if (taken == -2) {
        error = "a second --device for the place of \"" + std::string(argv[i + 1]) +
                "\": one device plays a port or server";
        return false;
      }
      if (taken < 0) {
        error = WireOptionForm(arg) +
                (i + 1 < argc ? ", not \"" + std::string(argv[i + 1]) + "\"" : "");
        return false;
      }
      i += taken - 1;
    } else if (arg.rfind("--", 0) == 0) {
      error = "there is no option " + arg;
      return false;
    } else {
      positional.push_back(arg);
    }
  }
  nbrun::PlugInsAndScript(positional, options.plugIns, options.script);
  if (options.ports || !options.plugIns.empty() || !options.wire.spyToDevice.empty() ||
      !options.viewLog.empty()) {
    return true;
  }
  error = "name a plug-in";
  return false;
}

// COM ports the machine names, read from the device namespace; no port is
// opened, so listing never disturbs a device.
void ListPorts() {
  int found = 0;
  for (int n = 1; n <= 32; ++n) {
    const std::string name = "COM" + std::to_string(n);
    char target[1024];
    if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) {
      std::printf("%-6s %s\n", name.c_str(), target);
      ++found;
    }
  }
  if (found == 0) std::printf("no COM ports\n");
}

// --view: the page of the spy log at `log`, written to `page`.
int WriteView(const std::string& log, std::string page) {
  std::string text;
  if (const DWORD error = nbwire::ReadWholeFile(log, text)) {
    std::fprintf(stderr, "cannot read the spy log %s: %s\n", log.c_str(), nbspy::ErrorText(error).c_str());
    return kFailure;
  }
  if (page.empty()) page = nbspy::PagePathFor(log);
  if (const DWORD error = nbwire::WriteWholeFile(page, nbspy::ViewPage(text, log))) {
    std::fprintf(stderr, "cannot write the page %s: %s\n", page.c_str(), nbspy::ErrorText(error).c_str());
    return kFailure;
  }
  std::printf("%s\n", page.c_str());
  return kDone;
}

// Runs the script at `path`, or with `check` only loads it.
int RunScript(nbrun::Runner& runner, const std::string& path, int maxSeconds, bool check) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  if (!file) {
    std::fprintf(stderr, "cannot read the script %s\n", path.c_str());
    return kFailure;
  }
  std::vector<std::string> lines;
  nbrun::Program program;
  std::string message;
  if (!nbrun::SplitScript(bytes.str(), lines, message)) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), message.c_str());
    return kFailure;
  }
  if (!nbrun::Load(lines, path, 1, program, message, runner.knows())) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return kFailure;
  }
  if (check) {
    std::printf("%s: no mistake found; nothing ran\n", path.c_str());
    return kDone;
  }
  nbrun::StopSignal stop(maxSeconds);
  runner.watch(&stop);
  const nbrun::Outcome outcome = runner.guard(
      [&](std::string& why) { return nbrun::Run(program, runner, why); }, message);
  const int code = runner.finish(outcome, message);
  runner.watch(nullptr);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  nbrun::InstallCrashGuard();
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "nbrun: %s\n%s", error.c_str(), kUsage);
    return kFailure;
  }
  if (!options.wire.spyToDevice.empty()) return nbrun::PrintDeviceFromLog(options.wire.spyToDevice);
  if (!options.viewLog.empty()) return WriteView(options.viewLog, options.viewPage);
  if (options.ports) {
    ListPorts();
    if (options.plugIns.empty()) return kDone;
  }
  nbhost::Host host;
  if (!nbrun::LoadPlugIns(host, options.plugIns, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kFailure;
  }
  const std::unique_ptr<nbrun::Wire> wire = nbrun::AttachWire(host.modules(), options.wire, &error);
  if (!wire) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kFailure;
  }
  if (options.list) {
    nbrun::ListCatalogues(host);
    return kDone;
  }
  nbrun::Runner runner(host, options.trace, options.quiet);
  for (const auto& preset : options.presets) runner.variables().set(preset.first, preset.second);
  if (options.check && options.script.empty()) {
    std::printf("no mistake found in the plug-ins and device files; nothing ran\n");
    return kDone;
  }
  return options.script.empty()
             ? nbrun::RunPrompt(runner, options.maxSeconds)
             : RunScript(runner, options.script, options.maxSeconds, options.check);
}
