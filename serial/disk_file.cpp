#include "disk_file.h"

#include <memory>

#include "channel_table.h"
#include "error_table.h"
#include "system_api.h"

namespace wl {
namespace {

constexpr size_t kMaxFileName = 255;

struct DiskFileData : ChannelData {
  bool isDisk = false;  // a regular file; short writes on it mean "disk full"
};

HANDLE HandleOf(const Channel& channel) { return reinterpret_cast<HANDLE>(channel.osHandle); }

Channel* FindFile(int16_t number, int& errorNumber) {
  return FindChannel(number, ChannelKind::DiskFile, errorNumber);
}

void WriteAtPosition(Channel& file, const char* data, size_t length, int& errorNumber) {
  DWORD written = 0;
  const DWORD error = OsCall([&](SystemApi& sys) {
    sys.WriteFile(HandleOf(file), data, static_cast<DWORD>(length), &written);
  });
  if (error != 0) {
    errorNumber = TranslateWindowsError(error);
  } else if (written != length) {
    errorNumber = static_cast<DiskFileData*>(file.data.get())->isDisk ? kDiskFull : kDeviceError;
  }
}

}  // namespace

bool diskFileOpen(int16_t channel, const std::string& fullName, FileMode mode, int& errorNumber) {
  const std::string name = fullName.substr(0, kMaxFileName);
  if (name.empty() || name.find_first_of("*?") != std::string::npos) {
    errorNumber = kBadFileName;
    return false;
  }
  const DWORD access = mode == FileMode::Replace ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = OsCall([&](SystemApi& sys) {
    handle = sys.CreateFileA(name.c_str(), access, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  });
  if (handle == INVALID_HANDLE_VALUE) {
    errorNumber = TranslateWindowsError(error);
    return false;
  }
  auto data = std::make_unique<DiskFileData>();
  OsCall([&](SystemApi& sys) { data->isDisk = sys.GetFileType(handle) == FILE_TYPE_DISK; });
  if (data->isDisk) {
    error = OsCall([&](SystemApi& sys) {
      if (mode == FileMode::Replace) {
        sys.SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
        sys.SetEndOfFile(handle);
      } else {
        sys.SetFilePointer(handle, 0, nullptr, FILE_END);
      }
    });
    if (error != 0) errorNumber = TranslateWindowsError(error);
  }
  auto entry = std::make_unique<Channel>();
  entry->channelNumber = channel;
  entry->channelKind = ChannelKind::DiskFile;
  entry->osHandle = reinterpret_cast<uintptr_t>(handle);
  entry->deviceName = name;
  entry->data = std::move(data);
  if (!Channels().insert(std::move(entry))) {
    OsCall([&](SystemApi& sys) { sys.CloseHandle(handle); });
    errorNumber = kAlreadyOpen;
    return false;
  }
  return true;
}

void diskFileWrite(int16_t channel, const char* data, size_t length, int& errorNumber) {
  if (Channel* file = FindFile(channel, errorNumber)) WriteAtPosition(*file, data, length, errorNumber);
}

void diskFileAppend(int16_t channel, const char* data, size_t length, int& errorNumber) {
  Channel* file = FindFile(channel, errorNumber);
  if (file == nullptr) return;
  const DWORD error = OsCall([&](SystemApi& sys) {
    DWORD high = 0;
    const DWORD low = sys.GetFileSize(HandleOf(*file), &high);
    LONG distanceHigh = static_cast<LONG>(high);
    sys.SetFilePointer(HandleOf(*file), static_cast<LONG>(low), &distanceHigh, FILE_BEGIN);
  });
  if (error != 0) {
    errorNumber = TranslateWindowsError(error);
    return;
  }
  WriteAtPosition(*file, data, length, errorNumber);
}

void diskFileClose(int16_t channel, int& errorNumber) {
  std::unique_ptr<Channel> file = Channels().remove(channel);
  if (file == nullptr) return;
  const DWORD error = OsCall([&](SystemApi& sys) { sys.CloseHandle(HandleOf(*file)); });
  if (error != 0) errorNumber = TranslateWindowsError(error);
}

}  // namespace wl
