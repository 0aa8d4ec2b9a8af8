// The Windows error translation and the channel table.
#include <gtest/gtest.h>

#include "serial/channel_table.h"
#include "serial/error_table.h"

TEST(ErrorTable, EveryRowOfTheTranslation) {
  const std::pair<uint32_t, int> rows[] = {
      {1, 75},  {2, 53},  {3, 76},  {4, 67},  {5, 70},  {6, 51},  {7, 241}, {8, 7},
      {9, 241}, {10, 241}, {11, 51}, {12, 51}, {13, 51}, {14, 7},  {15, 68}, {16, 75},
      {17, 74}, {18, 53}, {19, 70}, {20, 68}, {21, 71}, {22, 51}, {23, 72}, {24, 51},
      {25, 72}, {26, 72}, {27, 72}, {28, 72}, {29, 72}, {30, 72}, {31, 72}, {32, 70},
      {33, 70}, {34, 72}, {35, 75}, {36, 70}, {37, 75}, {38, 62}, {39, 61}, {40, 75},
      {87, 75}, {112, 61}, {183, 75}, {10061, 75}, {0xFFFFFFFFu, 75},
  };
  for (const auto& row : rows) EXPECT_EQ(wl::TranslateWindowsError(row.first), row.second) << row.first;
}

namespace {
std::unique_ptr<wl::Channel> MakeChannel(int16_t number, wl::ChannelKind kind) {
  auto c = std::make_unique<wl::Channel>();
  c->channelNumber = number;
  c->channelKind = kind;
  c->osHandle = 1000u + static_cast<uint16_t>(number);
  return c;
}
}  // namespace

TEST(ChannelTable, InsertFindRemove) {
  wl::ChannelTable table;
  EXPECT_EQ(table.find(1), nullptr);
  EXPECT_TRUE(table.insert(MakeChannel(1, wl::ChannelKind::SerialPort)));
  EXPECT_TRUE(table.insert(MakeChannel(21, wl::ChannelKind::TcpConnection)));
  ASSERT_NE(table.find(21), nullptr);
  EXPECT_EQ(table.find(21)->channelKind, wl::ChannelKind::TcpConnection);
  EXPECT_EQ(table.size(), 2u);
  auto removed = table.remove(1);
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(removed->osHandle, 1001u);
  EXPECT_EQ(table.find(1), nullptr);
  EXPECT_EQ(table.remove(1), nullptr);
}

// Every number from 0 to the highest fixed one has its place; others none.
TEST(ChannelTable, NumbersOutsideTheTableAreRefused) {
  wl::ChannelTable table;
  for (int16_t number : {int16_t{0}, int16_t{256}, wl::kTcpChannel, wl::kHighestChannel}) {
    EXPECT_TRUE(table.insert(MakeChannel(number, wl::ChannelKind::DiskFile))) << number;
    ASSERT_NE(table.find(number), nullptr) << number;
    EXPECT_EQ(table.find(number)->channelNumber, number);
  }
  EXPECT_EQ(table.size(), 4u);
  for (int16_t number : {int16_t{-1}, int16_t{wl::kHighestChannel + 1}, int16_t{32767}}) {
    EXPECT_FALSE(table.insert(MakeChannel(number, wl::ChannelKind::DiskFile))) << number;
    EXPECT_EQ(table.find(number), nullptr) << number;
    EXPECT_EQ(table.remove(number), nullptr) << number;
  }
  EXPECT_EQ(table.size(), 4u);
  EXPECT_NE(table.remove(wl::kHighestChannel), nullptr);
  EXPECT_EQ(table.find(wl::kHighestChannel), nullptr);
  EXPECT_EQ(table.size(), 3u);
}

TEST(ChannelTable, ATakenNumberKeepsItsChannel) {
  wl::ChannelTable table;
  ASSERT_TRUE(table.insert(MakeChannel(3, wl::ChannelKind::SerialPort)));
  wl::Channel* before = table.find(3);
  auto other = MakeChannel(3, wl::ChannelKind::DiskFile);
  EXPECT_FALSE(table.insert(std::move(other)));
  EXPECT_EQ(table.find(3), before);
  EXPECT_EQ(table.find(3)->channelKind, wl::ChannelKind::SerialPort);
}
