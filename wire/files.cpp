#include "files.h"

#include <fcntl.h>
#include <io.h>

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

}  // namespace

DWORD ReadWholeFile(const std::string& path, std::string& text) {
  text.clear();
  Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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
  Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return GetLastError();
  DWORD written = 0;
  if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    return GetLastError();
  }
  return written == text.size() ? 0 : ERROR_DISK_FULL;
}

std::FILE* OpenToAppend(const std::string& path, DWORD& error) {
  Handle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  error = file.ok() ? 0 : GetLastError();
  if (!file.ok()) return nullptr;
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_APPEND | _O_WRONLY);
  if (descriptor == -1) {
    error = ERROR_TOO_MANY_OPEN_FILES;
    return nullptr;
  }
  file.release();  // the descriptor owns it now
  std::FILE* out = _fdopen(descriptor, "a");
  if (out == nullptr) {
    _close(descriptor);
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  return out;
}

}  // namespace nbwire
