// A played server's connection as the socket calls see it, on a clock the
// test moves.
#include <gtest/gtest.h>

#include "wire/played_connection.h"

#include <string>
#include <vector>

using nbwire::PlayedConnection;
using Received = PlayedConnection::Received;

namespace {

nbdevice::DeviceFile Parsed(const std::string& text) {
  const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(text);
  EXPECT_TRUE(parsed.ok) << parsed.error;
  return parsed.device;
}

}  // namespace

TEST(PlayedConnection, AnswersWaitThenTheEndThenAResetAfterASend) {
  PlayedConnection c(Parsed("at 10 send \"READY\"\non \"Q\" send wait 20 \"BYE\" close\n"), 1000);
  std::string bytes;
  EXPECT_EQ(c.receive(100, false, 1009, bytes), Received::Nothing);
  EXPECT_FALSE(c.readable(1009));
  EXPECT_EQ(c.nextChange(), 1010u);
  EXPECT_TRUE(c.readable(1010));
  EXPECT_EQ(c.waiting(1010), 7u);
  EXPECT_EQ(c.receive(3, true, 1010, bytes), Received::Bytes);  // a peek leaves them
  EXPECT_EQ(bytes, "REA");
  EXPECT_EQ(c.receive(3, false, 1010, bytes), Received::Bytes);
  EXPECT_EQ(bytes, "REA");
  EXPECT_EQ(c.receive(100, false, 1010, bytes), Received::Bytes);
  EXPECT_EQ(bytes, "DY\r\n");

  EXPECT_TRUE(c.send("Q\r\n", 1100));
  EXPECT_FALSE(c.readable(1119));
  EXPECT_TRUE(c.readable(1120));
  EXPECT_EQ(c.receive(100, false, 1120, bytes), Received::Bytes);  // what came before the close first
  EXPECT_EQ(bytes, "BYE\r\n");
  EXPECT_EQ(c.receive(100, false, 1121, bytes), Received::End);
  EXPECT_EQ(c.receive(100, false, 1122, bytes), Received::End);  // every time it asks
  EXPECT_TRUE(c.readable(1122));

  EXPECT_TRUE(c.send("more\r\n", 1200));  // nobody there refuses the first
  EXPECT_FALSE(c.send("more\r\n", 1201));
  EXPECT_EQ(c.receive(100, false, 1202, bytes), Received::Reset);
}

TEST(PlayedConnection, EachConnectionStartsItsServerAtItsConnect) {
  const nbdevice::DeviceFile file = Parsed("at 0 send \"HI\"\nmatch \"ECHO (.*)\" send \"$1\"\n");
  PlayedConnection first(file, 0), second(file, 5000);
  std::string bytes;
  EXPECT_EQ(first.receive(100, false, 0, bytes), Received::Bytes);
  EXPECT_EQ(bytes, "HI\r\n");
  EXPECT_EQ(second.receive(100, false, 4999, bytes), Received::Nothing);
  EXPECT_TRUE(first.send("ECHO a\r\n", 6000));
  EXPECT_EQ(second.receive(100, false, 6000, bytes), Received::Bytes);
  EXPECT_EQ(bytes, "HI\r\n");
  EXPECT_EQ(second.waiting(6000), 0u);
  EXPECT_EQ(first.receive(100, false, 6000, bytes), Received::Bytes);
  EXPECT_EQ(bytes, "a\r\n");
  EXPECT_EQ(first.nextChange(), nbdevice::kNever);
}

TEST(PlayedConnection, AResetFailsTheClientAfterWhatCameBefore) {
  PlayedConnection c(Parsed("on \"KILL\" send \"BYE\" wait 10 reset\n"), 0);
  std::string bytes;
  EXPECT_TRUE(c.send("KILL\r\n", 100));
  EXPECT_TRUE(c.send("more\r\n", 105));  // before the reset: heard
  EXPECT_FALSE(c.readable(100) && c.waiting(100) == 0);
  EXPECT_TRUE(c.readable(110));
  EXPECT_EQ(c.receive(100, false, 110, bytes), Received::Bytes);
  EXPECT_EQ(bytes, "BYE\r\n");
  EXPECT_EQ(c.receive(100, false, 111, bytes), Received::Reset);  // not an end
  EXPECT_FALSE(c.send("x\r\n", 112));  // not even the first send goes
  EXPECT_EQ(c.receive(100, false, 113, bytes), Received::Reset);
  const std::vector<nbdevice::DeviceNote> notes = c.takeNotes();
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes.back().text, "reset by line 1");
  EXPECT_EQ(notes.back().at, 110u);
}

// A server streaming 1 MB to a client that does not read: the connection
// holds its window, the rest waits in the server, nothing is lost.
TEST(PlayedConnection, AClientThatDoesNotReadHoldsTheServerToTheWindow) {
  std::string stream, written;
  for (int k = 0; k < 125000; ++k) {  // 8 bytes each
    const std::string number = std::to_string(1000000 + k).substr(1);
    stream += number + "\r\n";
    written += number + "\\r\\n";
  }
  PlayedConnection c(Parsed("answers end none\nwindow 4096\nat 0 send \"" + written + "\"\n"), 0);
  EXPECT_EQ(c.waiting(10000), 4096u);
  std::string all, bytes;
  EXPECT_EQ(c.receive(1u << 30, true, 10000, bytes), Received::Bytes);
  EXPECT_EQ(bytes.size(), 4096u);  // a peek sees the window too
  while (c.receive(3000, false, 10001, bytes) == Received::Bytes) all += bytes;
  EXPECT_EQ(all.size(), stream.size());
  EXPECT_TRUE(all == stream);
  EXPECT_EQ(Parsed("on \"x\" send \"y\"\n").window, 65536u);
}
