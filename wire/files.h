// The files the wire's tools read and write (device files, spy logs), with
// the Windows error of a failure, so that callers can tell "no such file"
// from "no such folder" or "in use".
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace nbwire {

// Each refuses a name Windows takes for a device (NUL, CON, COM2.dev:
// port_names.h) with kDeviceNotFile before touching it.
constexpr DWORD kDeviceNotFile = ERROR_INVALID_NAME;

// The whole file into `text`: 0, or the Windows error.
DWORD ReadWholeFile(const std::string& path, std::string& text);

// `text` as the whole file, replacing one there: 0, or the Windows error.
DWORD WriteWholeFile(const std::string& path, const std::string& text);

// The file opened to add to its end (made when missing), readable by
// others meanwhile; nullptr with the Windows error in `error`.
std::FILE* OpenToAppend(const std::string& path, DWORD& error);

// The file made empty (or made) to be written from its start; nullptr with
// the Windows error in `error`.
std::FILE* OpenToWrite(const std::string& path, DWORD& error);

}  // namespace nbwire
