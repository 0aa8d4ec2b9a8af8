#include "nbhost.h"

#include <cstring>

namespace nbhost {
namespace {

PlugIn* receiver = nullptr;
void (*callbackObserver)() = nullptr;

std::string Text(const char* p) { return p ? std::string(p) : std::string(); }

void AddAction(int32_t number, const char* name, const char* hint, const char* types,
               uint32_t count, uint32_t countAgain) {
  if (receiver == nullptr) return;
  Registration r;
  r.number = number;
  r.name = Text(name);
  r.hintNull = hint == nullptr;
  r.hint = Text(hint);
  r.parameterTypes = Text(types);
  r.count = count;
  r.countAgain = countAgain;
  receiver->recordRegistration(r);
}

void SetVariable(const char* name, const char* value) {
  if (callbackObserver != nullptr) callbackObserver();
  if (receiver == nullptr) return;
  VariableSet v;
  v.nameNull = name == nullptr;
  v.name = Text(name);
  v.valueNull = value == nullptr;
  v.value = Text(value);
  receiver->recordVariable(v);
}

// The same callbacks in both conventions: stdcall removes its arguments,
// cdecl leaves them to the caller.
int32_t __stdcall AddActionStd(int32_t n, const char* a, const char* h, const char* t, uint32_t c,
                               uint32_t c2) {
  AddAction(n, a, h, t, c, c2);
  return 1;
}
int32_t __cdecl AddActionCdecl(int32_t n, const char* a, const char* h, const char* t, uint32_t c,
                               uint32_t c2) {
  AddAction(n, a, h, t, c, c2);
  return 1;
}
int32_t __stdcall SetVariableStd(const char* name, const char* value) {
  SetVariable(name, value);
  return 1;
}
int32_t __cdecl SetVariableCdecl(const char* name, const char* value) {
  SetVariable(name, value);
  return 1;
}

template <class F>
bool Resolve(HMODULE module, const char* name, F* out, std::string* missing) {
  *out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (*out == nullptr && missing->empty()) *missing = name;
  return *out != nullptr;
}

}  // namespace

const char* const kExportNames[7] = {
    "_nbEditAction@8",   "_nbExecAction@8",   "_nbInitPlugIn@16",
    "_nbMessage@8",      "_nbRegisterInterfaceAccess@4",
    "_nbRegisterPlugIn@16", "_nbRegisterScriptProcessor@4",
};

PlugIn::PlugIn(std::shared_ptr<Variables> shared)
    : store_(shared ? std::move(shared) : std::make_shared<Variables>()) {}

bool PlugIn::load(const std::string& path, std::string* error) {
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  module_ = LoadLibraryA(path.c_str());
  const DWORD code = GetLastError();
  SetErrorMode(previous);
  if (module_ == nullptr) {
    if (error) {
      *error = code == ERROR_MOD_NOT_FOUND || code == ERROR_FILE_NOT_FOUND
                   ? "cannot find " + path
                   : path + " is not a plug-in library (Windows error " +
                         std::to_string(code) + ")";
    }
    return false;
  }
  std::string missing;
  Resolve(module_, kExportNames[0], &editAction_, &missing);
  Resolve(module_, kExportNames[1], &execAction_, &missing);
  Resolve(module_, kExportNames[2], &initPlugIn_, &missing);
  Resolve(module_, kExportNames[3], &message_, &missing);
  Resolve(module_, kExportNames[4], &registerInterfaceAccess_, &missing);
  Resolve(module_, kExportNames[5], &registerPlugIn_, &missing);
  Resolve(module_, kExportNames[6], &registerScriptProcessor_, &missing);
  if (!missing.empty()) {
    if (error) *error = path + " is not a NeoBook plug-in: it does not export " + missing;
    FreeLibrary(module_);
    module_ = nullptr;
    return false;
  }
  return true;
}

void PlugIn::unload() {
  if (module_ != nullptr) FreeLibrary(module_);
  module_ = nullptr;
}

void PlugIn::init(char** title, char** publisher, char** hint) {
  initPlugIn_(nullptr, title, publisher, hint);
}

void SetCallbackObserver(void (*observer)()) { callbackObserver = observer; }

void* AddActionCallback(CallbackKind kind) {
  return kind == CallbackKind::Stdcall ? reinterpret_cast<void*>(&AddActionStd)
                                       : reinterpret_cast<void*>(&AddActionCdecl);
}

void* SetVariableCallback(CallbackKind kind) {
  return kind == CallbackKind::Stdcall ? reinterpret_cast<void*>(&SetVariableStd)
                                       : reinterpret_cast<void*>(&SetVariableCdecl);
}

void PlugIn::registerPlugIn(CallbackKind kind) {
  receiver = this;
  registrations_.clear();
  registerPlugIn_(AddActionCallback(kind), nullptr, nullptr, SetVariableCallback(kind));
}

// The callbacks carry no context: the plug-in object that runs an action
// is the one that receives what the action sets, so several plug-ins can be
// loaded side by side.
int32_t PlugIn::exec(int32_t number, const std::string& parameters) {
  const char* list[1] = {parameters.c_str()};
  receiver = this;
  return execAction_(number, list);
}

int32_t PlugIn::number(const std::string& name) const {
  for (const Registration& r : registrations_) {
    if (r.number != 0 && r.name == name) return r.number;
  }
  return -1;
}

int32_t PlugIn::exec(const std::string& name, const std::string& parameters) {
  const int32_t n = number(name);
  return n < 0 ? -1 : exec(n, parameters);
}

int32_t PlugIn::execList(int32_t number, const char* const* parameterList) {
  receiver = this;
  return execAction_(number, parameterList);
}

int32_t PlugIn::edit(int32_t number, void* parameterList) {
  return editAction_(number, parameterList);
}

void PlugIn::message(int32_t code, int32_t value) { message_(code, value); }
void PlugIn::registerScriptProcessor(void* callback) { registerScriptProcessor_(callback); }
void PlugIn::registerInterfaceAccess(void* callback) { registerInterfaceAccess_(callback); }

std::string PlugIn::variable(const std::string& name) const {
  auto it = store_->values.find(name);
  return it == store_->values.end() ? std::string() : it->second;
}

void PlugIn::recordVariable(const VariableSet& v) {
  store_->log.push_back(v);
  store_->values[v.name] = v.value;
  if (store_->onSet) store_->onSet(v);
}

PlugIn* Host::load(const std::string& path, std::string* error, CallbackKind kind) {
  Loaded loaded;
  loaded.plugIn = std::make_unique<PlugIn>(variables_);
  if (!loaded.plugIn->load(path, error)) return nullptr;
  loaded.path = path;
  char *title = nullptr, *publisher = nullptr, *hint = nullptr;
  loaded.plugIn->init(&title, &publisher, &hint);
  loaded.title = Text(title);
  loaded.publisher = Text(publisher);
  loaded.hint = Text(hint);
  // The blocks are the host's now.
  for (char* block : {title, publisher, hint}) {
    if (block != nullptr) GlobalFree(block);
  }
  loaded.plugIn->registerPlugIn(kind);
  loaded_.push_back(std::move(loaded));
  return loaded_.back().plugIn.get();
}

bool Host::unload(const PlugIn& plugIn) {
  for (auto it = loaded_.begin(); it != loaded_.end(); ++it) {
    if (it->plugIn.get() == &plugIn) {
      it->plugIn->unload();
      loaded_.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<HMODULE> Host::modules() const {
  std::vector<HMODULE> modules;
  for (const Loaded& loaded : loaded_) modules.push_back(loaded.plugIn->module());
  return modules;
}

PlugIn* Host::find(const std::string& name, int32_t* number) const {
  for (const Loaded& loaded : loaded_) {
    for (const Registration& entry : loaded.plugIn->registrations()) {
      if (entry.number > 0 && _stricmp(entry.name.c_str(), name.c_str()) == 0) {
        if (number != nullptr) *number = entry.number;
        return loaded.plugIn.get();
      }
    }
  }
  return nullptr;
}

int32_t Host::exec(const std::string& name, const std::string& parameters) {
  int32_t number = 0;
  PlugIn* plugIn = find(name, &number);
  return plugIn ? plugIn->exec(number, parameters) : -1;
}

std::string Host::variable(const std::string& name) const {
  auto it = variables_->values.find(name);
  return it == variables_->values.end() ? std::string() : it->second;
}

}  // namespace nbhost
