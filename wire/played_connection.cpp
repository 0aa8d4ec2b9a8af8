#include "played_connection.h"

namespace nbwire {

PlayedConnection::PlayedConnection(const nbdevice::DeviceFile& file, nbdevice::Millis now, int64_t utcMs)
    : device_(file) {
  device_.setTimeOfDay(now, utcMs);
  // What the client has not received is the window; the rest waits in the
  // server, as TCP's flow control holds a sender.
  device_.setQueueSize(file.window);
  device_.setBackpressure(true);
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
  if (device_.waiting() > 0 || most == 0) {
    bytes = peek ? device_.peek(most) : device_.take(most);
    return Received::Bytes;
  }
  if (wasReset()) return Received::Reset;
  return device_.closed() ? Received::End : Received::Nothing;
}

size_t PlayedConnection::waiting(nbdevice::Millis now) {
  device_.advance(now);
  return device_.waiting();
}

bool PlayedConnection::readable(nbdevice::Millis now) {
  device_.advance(now);
  return device_.waiting() > 0 || device_.closed() || reset_;
}

}  // namespace nbwire
