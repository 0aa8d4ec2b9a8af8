// The application's side of the plug-in interface, for the runner and the
// tests: loads a .nbp, resolves its seven decorated exports, supplies the two
// callbacks (stdcall or cdecl), records every call they receive and runs
// actions by number with a parameter text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
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

class PlugIn {
 public:
  PlugIn() = default;
  PlugIn(const PlugIn&) = delete;
  PlugIn& operator=(const PlugIn&) = delete;

  // Loads the library and resolves the seven exports. On failure returns
  // false and says why in `error` (not a plug-in, a missing export).
  bool load(const std::string& path, std::string* error);

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
  const std::vector<VariableSet>& variableLog() const { return variableLog_; }
  // Forgets the recorded variable calls (registrations are replaced by each
  // registerPlugIn).
  void clearLog() { variableLog_.clear(); }
  // The host's variables as set so far (a null value reads as empty).
  std::map<std::string, std::string>& variables() { return variables_; }
  std::string variable(const std::string& name) const;
  bool hasVariable(const std::string& name) const { return variables_.count(name) != 0; }

  // Called for every set-variable callback, after it was recorded.
  std::function<void(const VariableSet&)> onSetVariable;

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
  std::vector<VariableSet> variableLog_;
  std::map<std::string, std::string> variables_;
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
