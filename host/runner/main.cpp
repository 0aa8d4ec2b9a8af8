// nbrun: plays the authoring application's part for plug-ins, so a device
// dialogue can be tried without the application. It loads one or more
// .nbp files (plugins.h), registers them, and runs a script of actions (or
// a prompt, one line at a time), printing every variable a plug-in sets as
// it is set. Its wire options (wire.h) show the bytes the comm plug-ins
// exchange and play devices for them.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "host/nbhost.h"
#include "host/runner/expression.h"
#include "host/runner/plugins.h"
#include "host/runner/program.h"
#include "host/runner/script.h"
#include "host/runner/stop.h"
#include "host/runner/wire.h"

namespace {

const char kUsage[] =
    "usage: nbrun [options] PLUGIN.nbp [PLUGIN.nbp...] [SCRIPT]\n"
    "  Runs SCRIPT (one action or statement per line, the last argument)\n"
    "  against the plug-ins, each action on the plug-in that has it;\n"
    "  without SCRIPT, reads lines at a prompt.\n"
    "options:\n"
    "  --list             print each plug-in's actions under their categories\n"
    "  --ports            print the COM ports this machine has\n"
    "  --trace            print each action's number, parameter text, result and time\n"
    "  --set NAME=VALUE   set a variable before the script runs\n"
    "  --max-seconds N    end a script still running after N seconds (exit 3)\n"
    "  --spy[=FILE]       show every exchange with ports, files and the connection\n"
    "                     (bytes, times, pieces, settings), or write it to FILE\n"
    "  --device PLACE=FILE  play the device FILE describes on PLACE, a port\n"
    "                     (COM3) or a TCP server (127.0.0.7:5000); repeatable\n"
    "  --spy-to-device [PLACE=]LOG  print a device file that answers as the\n"
    "                     device in a --spy log did\n"
    "script lines:\n"
    "  wlCommOpenStd \"1,9600\"     an action; \"\" inside the quotes is one double quote\n"
    "  SetVar \"[name]\" \"text\"     Print \"text\"     Pause \"ms\"\n"
    "  Expect \"[name]\" \"text\"     stops the run (exit 1) unless both agree\n"
    "  If \"a\" \"op\" \"b\" / Else / EndIf     op: = <> > < >= <=\n"
    "  While \"a\" \"op\" \"b\" / EndWhile     Loop \"1\" \"3\" \"[i]\" / EndLoop     ExitLoop\n"
    "  :label     GotoLine \"label\"     Math \"([a]+1)*2\" \"decimals\" \"[result]\"\n"
    "  StrLen \"text\" \"[n]\"     SubStr \"text\" \"start\" \"length\" \"[part]\"\n"
    "  SearchStr \"find\" \"text\" \"[pos]\"     StrUpper / StrLower \"text\" \"[result]\"\n"
    "  # comment                  [name] anywhere is replaced by the variable's value\n"
    "exit: 0 done, 1 an Expect failed, 2 failure, 3 --max-seconds ran out, 4 Ctrl+C\n";

enum Exit { kDone = 0, kExpectationFailed = 1, kFailure = 2 };

struct Options {
  bool list = false;
  bool ports = false;
  bool trace = false;
  int maxSeconds = 0;
  std::vector<std::string> plugIns;
  std::string script;
  std::vector<std::pair<std::string, std::string>> presets;
  nbrun::WireOptions wire;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--list") {
      options.list = true;
    } else if (arg == "--ports") {
      options.ports = true;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--set" && i + 1 < argc) {
      const std::string assignment = argv[++i];
      const size_t equals = assignment.find('=');
      if (equals == std::string::npos) return false;
      options.presets.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
    } else if (arg == "--max-seconds" && i + 1 < argc) {
      if (!nbrun::ReadWholeNumber(argv[++i], options.maxSeconds) || options.maxSeconds < 1 ||
          options.maxSeconds > 1000000) {
        return false;
      }
    } else if (const int taken = nbrun::TakeWireOption(argc, argv, i, options.wire)) {
      if (taken < 0) return false;
      i += taken - 1;
    } else if (arg.rfind("--", 0) == 0) {
      return false;
    } else {
      positional.push_back(arg);
    }
  }
  nbrun::PlugInsAndScript(positional, options.plugIns, options.script);
  return options.ports || !options.plugIns.empty() || !options.wire.spyToDevice.empty();
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

class Runner : public nbrun::Host {
 public:
  Runner(nbhost::Host& host, bool trace) : host_(host), trace_(trace) {
    host_.variables().onSet = [](const nbhost::VariableSet& set) {
      std::printf("  %s = \"%s\"\n", set.name.c_str(), nbrun::Visible(set.value).c_str());
      std::fflush(stdout);
    };
  }

  // Ctrl+C and --max-seconds, while a script runs.
  void watch(const nbrun::StopSignal* stop) { stop_ = stop; }

  bool action(const std::string& name, const std::string& parameters) override {
    int32_t number = 0;
    nbhost::PlugIn* plugIn = host_.find(name, &number);
    if (plugIn == nullptr) return false;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const int32_t result = plugIn->exec(number, parameters);
    QueryPerformanceCounter(&end);
    if (trace_) {
      const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                        static_cast<double>(frequency.QuadPart);
      std::printf("> %s (%d) \"%s\" -> %d in %.3f ms\n", name.c_str(), number,
                  nbrun::Visible(parameters).c_str(), result, ms);
      std::fflush(stdout);
    }
    return true;
  }

  void print(const std::string& text) override {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }

  void pause(int milliseconds) override {
    if (stop_) {
      stop_->wait(milliseconds);
    } else {
      Sleep(static_cast<DWORD>(milliseconds));
    }
  }

  nbrun::Outcome stop(std::string& why) override {
    return stop_ ? stop_->check(why) : nbrun::Outcome::Done;
  }

  std::string variable(const std::string& name) override { return host_.variable(name); }

  void setVariable(const std::string& name, const std::string& value) override {
    host_.variables().values[name] = value;
  }

 private:
  nbhost::Host& host_;
  bool trace_;
  const nbrun::StopSignal* stop_ = nullptr;
};

// Loads and runs lines, saying on stderr what went wrong.
nbrun::Outcome RunLines(Runner& runner, const std::vector<std::string>& lines,
                        const std::string& source, int firstNumber) {
  nbrun::Program program;
  std::string message;
  nbrun::Outcome outcome = nbrun::Outcome::Failed;
  if (nbrun::Load(lines, source, firstNumber, program, message)) {
    outcome = nbrun::Run(program, runner, message);
  }
  if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
  return outcome;
}

int RunScript(Runner& runner, nbhost::Host& host, const std::string& path, int maxSeconds) {
  std::ifstream script(path, std::ios::binary);
  if (!script) {
    std::fprintf(stderr, "cannot read the script %s\n", path.c_str());
    return kFailure;
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(script, line);) lines.push_back(line);
  nbrun::StopSignal stop(maxSeconds);
  runner.watch(&stop);
  const nbrun::Outcome outcome = RunLines(runner, lines, path, 1);
  if (outcome == nbrun::Outcome::Interrupted || outcome == nbrun::Outcome::OutOfTime) {
    nbrun::CloseEverything(host);
    std::fprintf(stderr, "nbrun: the plug-in's ports and TCP connection are closed\n");
  }
  runner.watch(nullptr);
  return static_cast<int>(outcome);
}

// Each line is a script of its own: blocks and jumps need a script file.
int RunPrompt(Runner& runner) {
  std::printf("Type actions or statements, one per line; \"quit\" ends.\n");
  std::string line;
  for (int number = 1;; ++number) {
    std::printf("nbrun> ");
    std::fflush(stdout);
    if (!std::getline(std::cin, line) || line == "quit" || line == "exit") break;
    RunLines(runner, {line}, "", number);  // the prompt goes on after a failure
  }
  std::printf("\n");
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return kFailure;
  }
  if (!options.wire.spyToDevice.empty()) return nbrun::PrintDeviceFromLog(options.wire.spyToDevice);
  if (options.ports) {
    ListPorts();
    if (options.plugIns.empty()) return kDone;
  }
  nbhost::Host host;
  std::string error;
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
  for (const auto& preset : options.presets) host.variables().values[preset.first] = preset.second;
  Runner runner(host, options.trace);
  return options.script.empty() ? RunPrompt(runner)
                                : RunScript(runner, host, options.script, options.maxSeconds);
}
