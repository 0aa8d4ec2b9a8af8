#include "files.h"

#include <fcntl.h>
#include <io.h>

#include "wire/port_names.h"

namespace nbwire {
namespace {

// Closes the handle on every way out, keeping the error it was asked to.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (ok()) CloseHandle(h_);
  }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }

 private:
  HANDLE h_;
};

// The handle as a C stream written from `mode`'s end; nullptr with the
// error when the runtime cannot take it.
std::FILE* StreamOf(Handle& file, int flags, const char* mode, DWORD& error) {
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), flags);
  if (descriptor == -1) {
    error = ERROR_TOO_MANY_OPEN_FILES;
    return nullptr;
  }
  file.release();  // the descriptor owns it now
  std::FILE* out = _fdopen(descriptor, mode);
  if (out == nullptr) {
    _close(descriptor);
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  return out;
}

// CreateFileA for a tool's file, refusing a device's name.
HANDLE OpenFile(const std::string& path, DWORD access, DWORD share, DWORD creation) {
  if (NamesWindowsDevice(path)) {
    SetLastError(kDeviceNotFile);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileA(path.c_str(), access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::FILE* OpenStream(const std::string& path, DWORD access, DWORD creation, int flags,
                      const char* mode, DWORD& error) {
  Handle file(OpenFile(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, creation));
  error = file.ok() ? 0 : GetLastError();
  return file.ok() ? StreamOf(file, flags, mode, error) : nullptr;
}

}  // namespace

DWORD ReadWholeFile(const std::string& path, std::string& text) {
  text.clear();
  Handle file(OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
  if (!file.ok()) return GetLastError();
  char buffer[4096];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return GetLastError();
    if (read == 0) return 0;
    text.append(buffer, read);
  }
}

DWORD WriteWholeFile(const std::string& path, const std::string& text) {
  Handle file(OpenFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS));
  if (!file.ok()) return GetLastError();
  DWORD written = 0;
  if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    return GetLastError();
  }
  return written == text.size() ? 0 : ERROR_DISK_FULL;
}

std::FILE* OpenToAppend(const std::string& path, DWORD& error) {
  return OpenStream(path, FILE_APPEND_DATA, OPEN_ALWAYS, _O_APPEND | _O_WRONLY, "a", error);
}

std::FILE* OpenToWrite(const std::string& path, DWORD& error) {
  return OpenStream(path, GENERIC_WRITE, CREATE_ALWAYS, _O_WRONLY, "w", error);
}

}  // namespace nbwire
