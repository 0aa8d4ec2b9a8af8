// nbrun: plays the authoring application's part for plug-ins, so a device
// dialogue can be tried without the application. It loads one or more
// .nbp files (plugins.h), registers them, and runs a script of actions (or
// a prompt, one line at a time), printing every variable a plug-in sets as
// it is set (runner.h). Its wire options (wire.h) show the bytes the comm
// plug-ins exchange and play devices for them.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "host/nbhost.h"
#include "host/runner/failure.h"
#include "host/runner/options.h"
#include "host/runner/plugins.h"
#include "host/runner/program.h"
#include "host/runner/prompt.h"
#include "host/runner/results_file.h"
#include "host/runner/runner.h"
#include "host/runner/script.h"
#include "host/runner/warnings.h"
#include "host/runner/wire.h"
#include "serial/serial_rules.h"
#include "wire/files.h"
#include "wire/spy_log.h"
#include "wire/spy_view.h"

namespace {

const int kDone = static_cast<int>(nbrun::Outcome::Done);
const int kFailure = static_cast<int>(nbrun::Outcome::Failed);

// A run that cannot start: says why, and in the results when there are any.
using Refuse = std::function<int(const std::string& why)>;

// COM ports the machine names, read from the device namespace; no port is
// opened, so listing never disturbs a device.
void ListPorts() {
  int found = 0;
  for (int64_t n = 1; n <= wl::kHighestPort; ++n) {
    const std::string name = "COM" + std::to_string(n);
    char target[1024];
    if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) {
      std::printf("%-6s %s\n", name.c_str(), target);
      ++found;
    }
  }
  if (found == 0) std::printf("no COM ports\n");
}

// The value --set gave a variable, for --check.
nbrun::Preset PresetOf(const nbrun::Options& options) {
  return [&options](const std::string& name, std::string& value) {
    for (const auto& preset : options.presets) {
      if (nbrun::LowerCase(preset.first) == nbrun::LowerCase(name)) {
        value = preset.second;
        return true;
      }
    }
    return false;
  };
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

// --check: the warnings of a script that loads; with --strict they refuse it.
int CheckScript(nbrun::Runner& runner, const nbrun::Program& program, const nbrun::Options& options,
                const Refuse& refuse) {
  std::vector<std::string> devices;
  for (const auto& device : options.wire.devices) devices.push_back(device.written);
  const std::vector<std::string> warnings = nbrun::ProgramWarnings(program, PresetOf(options), devices);
  for (const std::string& warning : warnings) runner.warn("", warning);
  if (options.strict && !warnings.empty()) return refuse("nbrun: warnings are mistakes with --strict");
  std::string error;
  if (runner.results() && !runner.results()->end(nbrun::Outcome::Done, "", error)) return refuse("nbrun: " + error);
  const std::string found = warnings.empty() ? std::string("no mistake found")
                                             : "no mistake found, " + std::to_string(warnings.size()) +
                                                   (warnings.size() == 1 ? " warning" : " warnings");
  std::printf("%s: %s; nothing ran\n", options.script.c_str(), found.c_str());
  return kDone;
}

// Runs the script, or with --check only loads it.
int RunScript(nbrun::Runner& runner, const nbrun::Options& options, const Refuse& refuse) {
  const std::string& path = options.script;
  std::string bytes;
  if (const DWORD error = nbwire::ReadWholeFile(path, bytes)) {
    return refuse("cannot read the script " + path + ": " + nbspy::ErrorText(error));
  }
  std::vector<std::string> lines;
  nbrun::Program program;
  std::string message;
  if (!nbrun::SplitScript(bytes, lines, message)) return refuse(path + ": " + message);
  if (!nbrun::Load(lines, path, 1, program, message, runner.knows())) return refuse(message);
  if (options.check) return CheckScript(runner, program, options, refuse);
  nbrun::StopSignal stop(options.maxSeconds);
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
  nbrun::Options options;
  std::string error;
  if (!nbrun::ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "nbrun: %s", error.c_str());
    return kFailure;
  }
  if (options.help) {
    std::fputs(nbrun::Usage().c_str(), stdout);
    return kDone;
  }
  if (!options.wire.spyToDevice.empty()) return nbrun::PrintDeviceFromLog(options.wire.spyToDevice);
  if (!options.viewLog.empty()) return WriteView(options.viewLog, options.viewPage);
  if (options.ports) {
    ListPorts();
    if (options.plugIns.empty()) return kDone;
  }
  std::unique_ptr<nbrun::ResultsFile> results;
  if (!options.results.empty() && !options.list) {
    results = std::make_unique<nbrun::ResultsFile>(options.results, options.script);
    if (!results->start(error)) {
      std::fprintf(stderr, "nbrun: %s\n", error.c_str());
      return kFailure;
    }
  }
  const Refuse refuse = [&results](const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::string failed;
    if (results && !results->end(nbrun::Outcome::Failed, why, failed)) {
      std::fprintf(stderr, "nbrun: %s\n", failed.c_str());
    }
    return kFailure;
  };
  nbhost::Host host;
  if (!nbrun::LoadPlugIns(host, options.plugIns, &error)) return refuse(error);
  const std::unique_ptr<nbrun::Wire> wire = nbrun::AttachWire(host.modules(), options.wire, &error);
  if (!wire) return refuse(error);
  if (options.list) {
    nbrun::ListCatalogues(host);
    return kDone;
  }
  nbrun::RunnerSettings settings;
  settings.trace = options.trace;
  settings.quiet = options.quiet;
  settings.strict = options.strict;
  for (const auto& device : options.wire.devices) settings.devices.push_back(device.written);
  settings.results = results.get();
  nbrun::Runner runner(host, settings);
  for (const auto& preset : options.presets) runner.variables().set(preset.first, preset.second);
  if (options.check && options.script.empty()) {
    if (results && !results->end(nbrun::Outcome::Done, "", error)) return refuse("nbrun: " + error);
    std::printf("no mistake found in the plug-ins and device files; nothing ran\n");
    return kDone;
  }
  return options.script.empty() ? nbrun::RunPrompt(runner, options.maxSeconds)
                                : RunScript(runner, options, refuse);
}
