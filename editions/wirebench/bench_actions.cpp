#include "editions/wirebench/bench_actions.h"

#include <cstdio>
#include <new>
#include <vector>

#include "editions/wirebench/bench_errors.h"
#include "plugin/bridge.h"
#include "plugin/params.h"
#include "serial/error_table.h"
#include "wire/chain.h"
#include "wire/comm_modules.h"
#include "wire/device_from_log.h"
#include "wire/files.h"
#include "wire/port_names.h"
#include "wire/spy_log.h"
#include "wire/spy_view.h"
#include "wire/text.h"

namespace wl {
namespace wirebench {
namespace {

// The file the spy writes to, while it is on.
std::FILE* spyFile = nullptr;
std::string spyPath;  // its name

struct Outcome {
  int number = kDone;
  std::string text;
};

Outcome Failed(int number, const std::string& text) { return {number, text}; }

// A text as a message shows it: its start, when it is longer than any
// name of a file can be.
std::string Cut(const std::string& text) {
  constexpr size_t kShown = 260;
  return text.size() > kShown ? text.substr(0, kShown) + "..." : text;
}
std::string Shown(const std::string& text) { return "\"" + Cut(text) + "\""; }

// A file that could not be used, with the comm plug-ins' number for it.
Outcome FileFailed(const char* what, const std::string& path, DWORD error) {
  return Failed(TranslateWindowsError(error), std::string(what) + " " + Cut(path) + ": " + nbspy::ErrorText(error));
}

void Report(const Outcome& outcome) {
  SetHostVariable("wbErr", NumberText(outcome.number));
  SetHostVariable("wbErrText", outcome.text);
}

// The comm plug-ins loaded now, each served from now on; false when there
// is none.
bool ServeCommPlugIns() {
  const HMODULE self = nbwire::ModuleOf(reinterpret_cast<const void*>(&ServeCommPlugIns));
  const std::vector<HMODULE> found = nbwire::LoadedCommPlugIns(self);
  for (HMODULE module : found) nbwire::Serve(module);
  return !found.empty();
}

// What a setting that needs a comm plug-in reports when none is loaded.
Outcome NoCommPlugInYet() {
  return Failed(kNoCommPlugIn,
                "no comm plug-in (Wirelet, Quillport) is loaded yet: this takes effect for those "
                "loaded before the next Wirebench action");
}

// Runs an action's body and reports its outcome; the comm plug-ins loaded
// since the last action are served first, and the body is told whether
// there is any.
template <class Body>
void Run(Body body) {
  Outcome outcome;
  try {
    outcome = body(ServeCommPlugIns());
  } catch (const std::bad_alloc&) {
    outcome = Failed(kNoMemory, "out of memory");
  }
  Report(outcome);
}

Outcome Play(const std::string& parameters, bool served) {
  const std::vector<std::string> fields = SplitFields(parameters);
  nbwire::Place place;
  if (fields.size() != 2 || !nbwire::ParsePlace(fields[0], place)) {
    return Failed(kBadParameter, "wbPlay takes \"PORT,FILE\" with a port such as COM1 or a server such as "
                                 "127.0.0.7:5000, not " + Shown(parameters));
  }
  const std::string path = nbwire::Trimmed(fields[1]);
  if (path.empty()) {
    nbwire::StopPlaying(place);
    return {};
  }
  std::string text;
  if (const DWORD error = nbwire::ReadWholeFile(path, text)) return FileFailed("cannot read the device file", path, error);
  const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(text);
  if (!parsed.ok) return Failed(kDeviceFileMistake, path + " " + parsed.error);
  nbwire::Play(place, parsed.device);
  return served ? Outcome() : NoCommPlugInYet();
}

// The page of the log the spy wrote, beside it (wbSpy "" ends the log).
Outcome WritePage(const std::string& logPath) {
  std::string log;
  if (const DWORD error = nbwire::ReadWholeFile(logPath, log)) return FileFailed("cannot read the spy log", logPath, error);
  const std::string page = nbspy::PagePathFor(logPath);
  if (const DWORD error = nbwire::WriteWholeFile(page, nbspy::ViewPage(log, logPath))) {
    return FileFailed("cannot write the page", page, error);
  }
  return {};
}

Outcome Spy(const std::string& path, bool served) {
  std::FILE* previous = spyFile;
  const std::string previousPath = spyPath;
  if (path.empty()) {
    nbwire::SpyTo(nullptr);
  } else {
    DWORD error = 0;
    std::FILE* file = nbwire::OpenToAppend(path, error);
    if (file == nullptr) return FileFailed("cannot write the spy log", path, error);
    nbwire::SpyTo(file);  // the previous spy writes its last lines first
    spyFile = file;
    spyPath = path;
  }
  if (previous != nullptr) std::fclose(previous);
  if (!path.empty()) return served ? Outcome() : NoCommPlugInYet();
  spyFile = nullptr;
  spyPath.clear();
  return previous != nullptr ? WritePage(previousPath) : Outcome();
}

Outcome SpyToDevice(const std::string& parameters) {
  const std::vector<std::string> fields = SplitFields(parameters);
  const std::string place = fields.size() == 3 ? nbwire::Trimmed(fields[1]) : std::string();
  nbwire::Place named;
  if (fields.size() != 3 || (!place.empty() && !nbwire::ParsePlace(place, named))) {
    return Failed(kBadParameter, "wbSpyToDevice takes \"LOG,PORT,FILE\" with a port such as COM1 or a server "
                                 "such as 127.0.0.7:5000 (or none: the first the log shows), not " +
                                     Shown(parameters));
  }
  const std::string logPath = nbwire::Trimmed(fields[0]), devicePath = nbwire::Trimmed(fields[2]);
  if (logPath.empty() || devicePath.empty()) {
    return Failed(kNoFileName, "wbSpyToDevice needs the spy log's name and the device file's");
  }
  nbwire::FinishSpy();  // the log may be the one the spy writes
  if (spyFile != nullptr) std::fflush(spyFile);
  std::string log;
  if (const DWORD error = nbwire::ReadWholeFile(logPath, log)) return FileFailed("cannot read the spy log", logPath, error);
  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(log, place, logPath, nbdevice::kWirebenchMaker);
  if (!made.ok) return Failed(kNothingInLog, made.error);
  if (const DWORD error = nbwire::WriteWholeFile(devicePath, made.deviceFile)) {
    return FileFailed("cannot write the device file", devicePath, error);
  }
  return {};
}

}  // namespace

void wbPlay(const std::string& parameters) {
  Run([&](bool served) { return Play(parameters, served); });
}

void wbSpy(const std::string& parameters) {
  Run([&](bool served) { return Spy(parameters, served); });
}

void wbSpyToDevice(const std::string& parameters) {
  Run([&](bool) { return SpyToDevice(parameters); });
}

void Unload() {
  nbwire::Detach();  // the spy's last lines reach its file first
  if (spyFile != nullptr) std::fclose(spyFile);
  spyFile = nullptr;
  spyPath.clear();
}

}  // namespace wirebench
}  // namespace wl
