// Files written by the receive-to-file actions. Each is a DiskFile channel
// (101, 102 or 112) that lives for the length of one action: opened first,
// written, then closed before the action returns.
//
// Like the device layer, every operation records a failure by overwriting
// the running action's error number and returns a neutral result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wl {

enum class FileMode {
  Replace,  // write access only, emptied at open (wlCommRx, wlTCPrxF)
  Append,   // read and write access, never emptied, positioned at the end
};

// Opens `name` (cut to 255 characters) under `channel`. An empty name or one
// holding "*" or "?" records 64 without calling the system; a refusal
// records its translated number. Returns whether the file is open.
bool diskFileOpen(int16_t channel, const std::string& name, FileMode mode, int& errorNumber);

// Writes at the current position. A channel that is not open records 52,
// one of another kind 54; a refused write its translated number; a short
// write 61 on a disk file and 57 on any other kind of file.
void diskFileWrite(int16_t channel, const char* data, size_t length, int& errorNumber);

// Writes at the file's current end (its length is read first), so bytes
// appended by anyone else since the open are kept.
void diskFileAppend(int16_t channel, const char* data, size_t length, int& errorNumber);

// Closes the file and frees its channel; nothing happens for a free number.
void diskFileClose(int16_t channel, int& errorNumber);

}  // namespace wl
