#include "peer.h"

#include <algorithm>

namespace serialtest {

Peer::Peer(int port) {
  const std::string name = "\\\\.\\COM" + std::to_string(100 + port);
  handle_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) return;
  // Reads return at once with what is there; writes give up after 2 s.
  COMMTIMEOUTS t = {MAXDWORD, 0, 0, 0, 2000};
  SetCommTimeouts(handle_, &t);
  drain();
}

Peer::~Peer() {
  stopping_ = true;
  stop_ = true;
  if (server_.joinable()) server_.join();
  if (writer_.joinable()) writer_.join();
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

void Peer::drain() {
  const DWORD start = GetTickCount();
  DWORD quietSince = start;
  while (GetTickCount() - quietSince < 30 && GetTickCount() - start < 3000) {
    char buffer[4096];
    DWORD n = 0;
    if (!ReadFile(handle_, buffer, sizeof buffer, &n, nullptr)) return;
    if (n > 0) {
      quietSince = GetTickCount();
    } else {
      Sleep(2);
    }
  }
}

bool Peer::write(const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

void Peer::writeLater(const std::string& bytes, int delayMs) {
  if (writer_.joinable()) writer_.join();
  writer_ = std::thread([this, bytes, delayMs] {
    Sleep(delayMs);
    write(bytes);
  });
}

std::string Peer::read(size_t count, int deadlineMs) {
  std::string got;
  const DWORD start = GetTickCount();
  while (got.size() < count && GetTickCount() - start < static_cast<DWORD>(deadlineMs)) {
    char buffer[4096];
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(sizeof buffer, count - got.size()));
    if (!ReadFile(handle_, buffer, want, &n, nullptr)) break;
    got.append(buffer, n);
    if (n == 0) Sleep(1);
  }
  return got;
}

std::string Peer::readQuiet(int quietMs, int deadlineMs) {
  std::string got;
  const DWORD start = GetTickCount();
  DWORD quietSince = start;
  while (GetTickCount() - quietSince < static_cast<DWORD>(quietMs) &&
         GetTickCount() - start < static_cast<DWORD>(deadlineMs)) {
    char buffer[4096];
    DWORD n = 0;
    if (!ReadFile(handle_, buffer, sizeof buffer, &n, nullptr)) break;
    if (n > 0) {
      got.append(buffer, n);
      quietSince = GetTickCount();
    } else {
      Sleep(1);
    }
  }
  return got;
}

void Peer::startFlood(const std::string& unit, int limitMs) {
  if (writer_.joinable()) writer_.join();
  flooded_.clear();
  stop_ = false;
  flooding_ = true;
  writer_ = std::thread([this, unit, limitMs] {
    const DWORD start = GetTickCount();
    while (!stop_ && GetTickCount() - start < static_cast<DWORD>(limitMs)) {
      DWORD written = 0;
      if (!WriteFile(handle_, unit.data(), static_cast<DWORD>(unit.size()), &written, nullptr)) break;
      flooded_.append(unit, 0, written);
    }
    flooding_ = false;
  });
}

std::string Peer::stopFlood() {
  stop_ = true;
  if (writer_.joinable()) writer_.join();
  return flooded_;
}

void Peer::serve(std::function<std::string(const std::string& request)> answers) {
  server_ = std::thread([this, answers] {
    std::string request;
    while (!stopping_) {
      char buffer[256];
      DWORD n = 0;
      if (!ReadFile(handle_, buffer, sizeof buffer, &n, nullptr)) return;
      if (n == 0) Sleep(1);
      for (DWORD k = 0; k < n; ++k) {
        {
          std::lock_guard<std::mutex> hold(heardLock_);
          heard_ += buffer[k];
        }
        if (buffer[k] == '\r') {
          const std::string answer = answers(request);
          if (!answer.empty()) write(answer);
          request.clear();
        } else if (buffer[k] != '\n') {
          request += buffer[k];
        }
      }
    }
  });
}

std::string Peer::heard() {
  std::lock_guard<std::mutex> hold(heardLock_);
  return heard_;
}

double SecondsSince(DWORD start) { return (GetTickCount() - start) / 1000.0; }

}  // namespace serialtest
