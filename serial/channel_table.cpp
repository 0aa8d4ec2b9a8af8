#include "channel_table.h"

#include "error_table.h"

namespace wl {

std::unique_ptr<Channel>* ChannelTable::slot(int16_t number) {
  return number >= 0 && number <= kHighestChannel ? &channels_[static_cast<size_t>(number)] : nullptr;
}

Channel* ChannelTable::find(int16_t number) {
  std::lock_guard<std::mutex> guard(lock_);
  std::unique_ptr<Channel>* entry = slot(number);
  return entry ? entry->get() : nullptr;
}

bool ChannelTable::insert(std::unique_ptr<Channel> channel) {
  std::lock_guard<std::mutex> guard(lock_);
  std::unique_ptr<Channel>* entry = slot(channel->channelNumber);
  if (entry == nullptr || *entry) return false;
  *entry = std::move(channel);
  ++size_;
  return true;
}

std::unique_ptr<Channel> ChannelTable::remove(int16_t number) {
  std::lock_guard<std::mutex> guard(lock_);
  std::unique_ptr<Channel>* entry = slot(number);
  if (entry == nullptr || !*entry) return nullptr;
  --size_;
  return std::move(*entry);
}

size_t ChannelTable::size() {
  std::lock_guard<std::mutex> guard(lock_);
  return size_;
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
