// The kernel32 calls through which a module uses its ports and files: the
// set the spy and the simulated ports stand in for. Each layer fills one
// PortCalls with its own functions and gets another with the functions it
// passes calls on to (what the import table held before it).
#pragma once

#include <windows.h>

#include <vector>

#include "wire/import_redirect.h"

namespace nbhooks {

struct PortCalls {
  decltype(&::CreateFileA) CreateFileA = nullptr;
  decltype(&::CloseHandle) CloseHandle = nullptr;
  decltype(&::ReadFile) ReadFile = nullptr;
  decltype(&::WriteFile) WriteFile = nullptr;
  decltype(&::GetFileType) GetFileType = nullptr;
  decltype(&::GetCommState) GetCommState = nullptr;
  decltype(&::SetCommState) SetCommState = nullptr;
  decltype(&::GetCommTimeouts) GetCommTimeouts = nullptr;
  decltype(&::SetCommTimeouts) SetCommTimeouts = nullptr;
  decltype(&::ClearCommError) ClearCommError = nullptr;
  decltype(&::SetupComm) SetupComm = nullptr;
  decltype(&::GetCommProperties) GetCommProperties = nullptr;
};

// The hooks that send each call `layer` has a function for to that function
// (calls it leaves null stay as they are); `next` receives the rest.
std::vector<Hook> PortHooks(const PortCalls& layer, PortCalls& next);

}  // namespace nbhooks
