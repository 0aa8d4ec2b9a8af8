#include "played_connection.h"

#include "wire/bounds.h"

namespace nbwire {

PlayedConnection::PlayedConnection(const nbdevice::DeviceFile& file, nbdevice::Millis now)
    : device_(file), window_(file.window) {
  device_.setQueueSize(kServerQueueBytes);
  device_.open(now);
}

bool PlayedConnection::send(const std::string& bytes, nbdevice::Millis now) {
  device_.advance(now);
  if (wasReset()) return false;
  if (device_.closed()) {
    reset_ = true;  // this one still goes; the peer's reset answers it
    return true;
  }
  device_.hear(bytes, now);
  return true;
}

PlayedConnection::Received PlayedConnection::receive(size_t most, bool peek, nbdevice::Millis now,
                                                     std::string& bytes) {
  device_.advance(now);
  bytes.clear();
  if (receivable() > 0 || most == 0) {
    const size_t count = std::min(most, receivable());
    bytes = peek ? device_.peek(count) : device_.take(count);
    return Received::Bytes;
  }
  if (wasReset()) return Received::Reset;
  return device_.closed() ? Received::End : Received::Nothing;
}

size_t PlayedConnection::waiting(nbdevice::Millis now) {
  device_.advance(now);
  return receivable();
}

bool PlayedConnection::readable(nbdevice::Millis now) {
  device_.advance(now);
  return receivable() > 0 || device_.closed() || reset_;
}

}  // namespace nbwire
