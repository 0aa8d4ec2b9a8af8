// Finding the comm plug-ins among the modules of this process, by what they
// are rather than by their file names (a plug-in file can be renamed, and a
// publication may unpack its plug-ins anywhere): a comm plug-in is a
// NeoBook plug-in, exporting the seven entry points, that imports kernel32's
// serial calls or Windows Sockets.
#pragma once

#include <windows.h>

#include <vector>

namespace nbwire {

// Whether `module` is a comm plug-in.
bool IsCommPlugIn(HMODULE module);

// The comm plug-ins loaded in this process now, in address order; never
// the program itself nor `except` (the caller's own module).
std::vector<HMODULE> LoadedCommPlugIns(HMODULE except);

// The module whose code holds `address` (nullptr: none).
HMODULE ModuleOf(const void* address);

}  // namespace nbwire
