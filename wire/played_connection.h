// A TCP connection to a played server, as the client's socket calls see it:
// the device behind it (device_model.h), the bytes it sent that the client
// has not received, and the end of the connection.
//
// What a real connection does, and this one too:
//  - the client's sends reach the server at once, whole;
//  - the server's answers wait in the connection until received; a receive
//    takes what is there, up to the size asked;
//  - when the server closes, the client receives what was sent before the
//    close, then the end (recv returns 0), every time it asks;
//  - the first send after the server closed still goes (nobody is there to
//    refuse it); the connection is then reset, and later sends and
//    receives fail (WSAECONNRESET);
//  - a server that resets the connection (its file's reset): the client
//    receives what was sent before, then every send and receive fails
//    (WSAECONNRESET), as after an RST;
//  - at most the file's window of the server's bytes wait unread in the
//    connection: a client that does not read sees no more than that
//    waiting, the rest waits in the server, and nothing is lost.
// Time is the caller's, as for the device.
// Pure code: no Windows here.
#pragma once

#include <string>
#include <vector>

#include "wire/device_model.h"

namespace nbwire {

class PlayedConnection {
 public:
  // Connected at `now`, when the time of day is `utcMs` (ms since 1970,
  // UTC): the server's timed output starts from there.
  PlayedConnection(const nbdevice::DeviceFile& file, nbdevice::Millis now, int64_t utcMs = 0);

  // The client sent `bytes`; false when the connection was reset.
  bool send(const std::string& bytes, nbdevice::Millis now);

  enum class Received { Bytes, End, Nothing, Reset };
  // Takes at most `most` bytes (leaves them when `peek`): Bytes with the
  // bytes, End once the server closed and all was received, Nothing while
  // the server is still to send, Reset after a send to a closed server.
  Received receive(size_t most, bool peek, nbdevice::Millis now, std::string& bytes);

  // The bytes waiting to be received.
  size_t waiting(nbdevice::Millis now);
  // A receive would not wait: bytes wait, the server closed, or the
  // connection was reset.
  bool readable(nbdevice::Millis now);
  // When the server's next output or close falls due (kNever: none will).
  nbdevice::Millis nextChange() const { return device_.nextOutput(); }
  // What the server played that the log should name (a reset).
  std::vector<nbdevice::DeviceNote> takeNotes() { return device_.takeNotes(); }

 private:
  bool wasReset() const { return reset_ || device_.wasReset(); }

  nbdevice::Device device_;
  bool reset_ = false;
};

}  // namespace nbwire
