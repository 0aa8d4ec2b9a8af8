// The one table of open channels of the plug-in.
//
// Serial ports use their port number (1 to 256) as channel number; the TCP
// connection and the files written by the receive-to-file actions (for the
// length of one action) have fixed numbers above every port's, which no
// script sees.
// Pure code: the table knows nothing of Windows; handles are kept as numbers.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace wl {

enum class ChannelKind { SerialPort, DiskFile, TcpConnection };

// Extra state a kind of channel keeps beside its handle (a port's time-outs,
// the TCP record).
struct ChannelData {
  virtual ~ChannelData() = default;
};

struct Channel {
  int16_t channelNumber = 0;
  ChannelKind channelKind = ChannelKind::SerialPort;
  uintptr_t osHandle = 0;
  std::string deviceName;  // at most 255 characters
  bool endOfData = false;  // a read returned fewer bytes than asked
  std::unique_ptr<ChannelData> data;
};

// The highest channel number: the last of the fixed numbers below.
constexpr int16_t kHighestChannel = 1112;

// Channels by number in a flat table: every action finds its channel by an
// index, under the table's lock.
class ChannelTable {
 public:
  // The open channel with this number, or nullptr. The pointer stays valid
  // until the channel is removed.
  Channel* find(int16_t number);

  // Enters `channel` under its number; false (and nothing changed) when the
  // number is taken or not one of the table's (0 to kHighestChannel).
  bool insert(std::unique_ptr<Channel> channel);

  // Takes the channel out of the table; nullptr when the number is free.
  std::unique_ptr<Channel> remove(int16_t number);

  size_t size();

 private:
  // The slot of a number, or nullptr for one outside the table.
  std::unique_ptr<Channel>* slot(int16_t number);

  std::mutex lock_;
  std::array<std::unique_ptr<Channel>, kHighestChannel + 1> channels_;
  size_t size_ = 0;
};

// The plug-in's one table.
ChannelTable& Channels();

// The open channel of `kind` under `number` in the plug-in's table, or
// nullptr after recording why there is none: 52 for a free number, 54 for a
// channel of another kind.
Channel* FindChannel(int16_t number, ChannelKind kind, int& errorNumber);

// Fixed channel numbers of the non-serial users, apart from the ports'.
constexpr int16_t kTcpChannel = 1021;
constexpr int16_t kCommRxFileChannel = 1101;
constexpr int16_t kCommRxFFileChannel = 1102;
constexpr int16_t kTcpFileChannel = kHighestChannel;

}  // namespace wl
