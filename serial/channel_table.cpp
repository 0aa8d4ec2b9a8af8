#include "channel_table.h"

#include "error_table.h"

namespace wl {

Channel* ChannelTable::find(int16_t number) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = channels_.find(number);
  return it == channels_.end() ? nullptr : it->second.get();
}

bool ChannelTable::insert(std::unique_ptr<Channel> channel) {
  std::lock_guard<std::mutex> guard(lock_);
  const int16_t number = channel->channelNumber;
  return channels_.try_emplace(number, std::move(channel)).second;
}

std::unique_ptr<Channel> ChannelTable::remove(int16_t number) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = channels_.find(number);
  if (it == channels_.end()) return nullptr;
  std::unique_ptr<Channel> channel = std::move(it->second);
  channels_.erase(it);
  return channel;
}

size_t ChannelTable::size() {
  std::lock_guard<std::mutex> guard(lock_);
  return channels_.size();
}

ChannelTable& Channels() {
  static ChannelTable table;
  return table;
}

Channel* FindChannel(int16_t number, ChannelKind kind, int& errorNumber) {
  Channel* channel = Channels().find(number);
  if (channel == nullptr) {
    errorNumber = kNotOpen;
  } else if (channel->channelKind != kind) {
    errorNumber = kWrongKind;
    channel = nullptr;
  }
  return channel;
}

}  // namespace wl
