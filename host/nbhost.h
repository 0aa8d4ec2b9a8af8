// The application's side of the plug-in interface, for the runner and the
// tests: loads a .nbp, resolves its seven decorated exports, supplies the two
// callbacks (stdcall or cdecl), records every call they receive and runs
// actions by number with a parameter text. Several plug-ins loaded into one
// Host share one store of variables, as the application's are global.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace nbhost {

// One call of the add-action callback.
struct Registration {
  int32_t number = 0;
  std::string name;
  bool hintNull = false;
  std::string hint;
  std::string parameterTypes;
  uint32_t count = 0;
  uint32_t countAgain = 0;
};

// One call of the set-variable callback; a null address is kept apart from
// an empty text.
struct VariableSet {
  std::string name;
  bool nameNull = false;
  std::string value;
  bool valueNull = false;
};

enum class CallbackKind { Stdcall, Cdecl };

// The host's variables as the set-variable callbacks left them (a null
// value reads as empty), the calls in order, and who watches them.
struct Variables {
  std::map<std::string, std::string> values;
  std::vector<VariableSet> log;
  // Called for every set-variable callback, after it was recorded.
  std::function<void(const VariableSet&)> onSet;
};

class PlugIn {
 public:
  // With variables of its own, or with `shared`, which other plug-ins
  // write too.
  explicit PlugIn(std::shared_ptr<Variables> shared = nullptr);
  PlugIn(const PlugIn&) = delete;
  PlugIn& operator=(const PlugIn&) = delete;

  // Loads the library and resolves the seven exports. On failure returns
  // false and says why in `error` (not a plug-in, a missing export).
  bool load(const std::string& path, std::string* error);
  // Frees the library (FreeLibrary); its entry points are gone after it. A
  // plug-in never unloaded stays until the process ends, as in the
  // application.
  void unload();

  // The entry points.
  void init(char** title, char** publisher, char** hint);
  // Registers with callbacks of the given kind; this object then receives
  // every callback until another PlugIn registers.
  void registerPlugIn(CallbackKind kind = CallbackKind::Stdcall);
  int32_t exec(int32_t number, const std::string& parameters);
  // Runs an action by its name, numbered as this plug-in registered it.
  // Suites written this way run unchanged against both editions (Wirelet's
  // wlCommRxByte is 11, Quillport's is 9). Unknown names fail the caller's
  // expectations with -1 and run nothing.
  int32_t exec(const std::string& name, const std::string& parameters);
  // The number this plug-in registered `name` under, or -1.
  int32_t number(const std::string& name) const;
  int32_t execList(int32_t number, const char* const* parameterList);
  int32_t edit(int32_t number, void* parameterList = nullptr);
  void message(int32_t code, int32_t value);
  void registerScriptProcessor(void* callback);
  void registerInterfaceAccess(void* callback);

  // What the callbacks received.
  const std::vector<Registration>& registrations() const { return registrations_; }
  const std::vector<VariableSet>& variableLog() const { return store_->log; }
  // Forgets the recorded variable calls (registrations are replaced by each
  // registerPlugIn).
  void clearLog() { store_->log.clear(); }
  // The host's variables as set so far (a null value reads as empty).
  std::map<std::string, std::string>& variables() { return store_->values; }
  std::string variable(const std::string& name) const;
  bool hasVariable(const std::string& name) const { return store_->values.count(name) != 0; }
  Variables& store() { return *store_; }

  HMODULE module() const { return module_; }

  // Called by the callback functions.
  void recordRegistration(const Registration& r) { registrations_.push_back(r); }
  void recordVariable(const VariableSet& v);

 private:
  HMODULE module_ = nullptr;
  int32_t(__stdcall* editAction_)(int32_t, void*) = nullptr;
  int32_t(__stdcall* execAction_)(int32_t, const char* const*) = nullptr;
  void(__stdcall* initPlugIn_)(void*, char**, char**, char**) = nullptr;
  void(__stdcall* message_)(int32_t, int32_t) = nullptr;
  void(__stdcall* registerInterfaceAccess_)(void*) = nullptr;
  void(__stdcall* registerPlugIn_)(void*, void*, void*, void*) = nullptr;
  void(__stdcall* registerScriptProcessor_)(void*) = nullptr;

  std::vector<Registration> registrations_;
  std::shared_ptr<Variables> store_;
};

// Several plug-ins loaded side by side, as the application loads them: one
// store of variables, and each action run by the plug-in whose catalogue
// names it (names match in any case; when two plug-ins name the same
// action, the one loaded first runs it).
class Host {
 public:
  struct Loaded {
    std::unique_ptr<PlugIn> plugIn;
    std::string path;
    std::string title, publisher, hint;  // as nbInitPlugIn gave them
  };

  Host() : variables_(std::make_shared<Variables>()) {}

  // Loads, identifies and registers a plug-in; nullptr with `error` (as
  // PlugIn::load says it) when it is none.
  PlugIn* load(const std::string& path, std::string* error, CallbackKind kind = CallbackKind::Stdcall);

  const std::vector<Loaded>& plugIns() const { return loaded_; }
  std::vector<HMODULE> modules() const;

  // Unloads a plug-in this host loaded (FreeLibrary), as the application
  // does when it no longer needs it; false when it is not one of them.
  bool unload(const PlugIn& plugIn);

  // The plug-in that runs `name`, and the action's number there; nullptr
  // when no catalogue names it.
  PlugIn* find(const std::string& name, int32_t* number = nullptr) const;
  // Runs `name` on the plug-in that has it: its nbExecAction result, or -1
  // when no plug-in has it.
  int32_t exec(const std::string& name, const std::string& parameters);

  Variables& variables() { return *variables_; }
  std::string variable(const std::string& name) const;

 private:
  std::shared_ptr<Variables> variables_;
  std::vector<Loaded> loaded_;
};

// The host's callbacks of each kind, as handed to nbRegisterPlugIn.
void* AddActionCallback(CallbackKind kind);
void* SetVariableCallback(CallbackKind kind);

// `observer` is called at the start of every set-variable callback, before
// it is recorded (nullptr: none). The spy writes out what it holds there, so
// its log and what the host prints stay in order.
void SetCallbackObserver(void (*observer)());

// The seven decorated export names, in ordinal order.
extern const char* const kExportNames[7];

}  // namespace nbhost
