// The simulated device's pure parts: its file format, request matching,
// output scheduled against a clock the test moves, the receive queue, and
// device files made from spy logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "codes/checksums.h"

#include "wire/device_from_log.h"
#include "wire/device_model.h"
#include "wire/pattern.h"
#include "wire/port_model.h"

using nbdevice::Device;
using nbdevice::DeviceFile;
using nbdevice::ParseDeviceFile;
using nbdevice::RequestKind;

namespace {

DeviceFile Parsed(const std::string& text) {
  const nbdevice::ParsedFile parsed = ParseDeviceFile(text);
  EXPECT_TRUE(parsed.ok) << parsed.error;
  return parsed.device;
}

// The device file made from a spy log that shows an exchange with a port.
std::string FromLog(const std::string& log) {
  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(log, "", "spy.log");
  EXPECT_TRUE(made.ok) << made.error;
  return made.deviceFile;
}

// Each file (first) is refused with a message that starts so (second).
template <size_t N>
void ExpectRefused(const std::pair<const char*, const char*> (&cases)[N]) {
  for (const auto& c : cases) {
    const nbdevice::ParsedFile parsed = ParseDeviceFile(c.first);
    EXPECT_FALSE(parsed.ok) << c.first;
    EXPECT_EQ(parsed.error.rfind(c.second, 0), 0u) << c.first << " -> " << parsed.error;
  }
}

// A device opened at time 0 that has heard `request`, with its clock moved
// to `now`: what waits in its queue then.
std::string AnswerAt(Device& device, const std::string& request, nbdevice::Millis heard,
                     nbdevice::Millis now) {
  device.hear(request, heard);
  device.advance(now);
  return device.take(4096);
}

}  // namespace

TEST(DeviceFile, EveryStatementIsRead) {
  const DeviceFile file = Parsed(
      "# a scale\n"
      "requests end \"\\r\\n\" \";\"   # two endings\n"
      "answers end none\r\n"
      "on \"ID\" send \"WL-SCALE\"\n"
      "\n"
      "match \"E(.)\" send wait 40 \"a\" \"b\" wait 5 \"\\x00#\"\n"
      "on \"Q\" silent\n"
      "otherwise send \"ERR\"\n"
      "every 1000 send \"tick\"\n"
      "at 0 every 250 send \"x\"\n"
      "at 500 send \"READY\"\n");
  EXPECT_EQ(file.requestEnds, (std::vector<std::string>{"\r\n", ";"}));
  EXPECT_EQ(file.answerEnd, "");
  ASSERT_EQ(file.rules.size(), 4u);
  EXPECT_EQ(file.rules[0].request, "ID");
  EXPECT_EQ(file.rules[1].kind, RequestKind::Pattern);
  ASSERT_EQ(file.rules[1].answer.size(), 3u);
  EXPECT_EQ(file.rules[1].answer[0].waitMs, 40u);
  EXPECT_EQ(file.rules[1].answer[1].waitMs, 0u);
  EXPECT_EQ(file.rules[1].answer[2].waitMs, 5u);
  EXPECT_EQ(file.rules[1].answer[2].bytes, std::string("\0#", 2));
  EXPECT_TRUE(file.rules[2].answer.empty());
  EXPECT_EQ(file.rules[3].kind, RequestKind::Otherwise);
  ASSERT_EQ(file.timed.size(), 3u);
  EXPECT_EQ(file.timed[0].atMs, 1000u);  // every P starts after P
  EXPECT_EQ(file.timed[1].atMs, 0u);
  EXPECT_EQ(file.timed[1].everyMs, 250u);
  EXPECT_EQ(file.timed[2].everyMs, 0u);

  const DeviceFile defaults = Parsed("\xEF\xBB\xBFon \"W\" send \"1\"");  // as Notepad saves it
  EXPECT_EQ(defaults.requestEnds, (std::vector<std::string>{"\r", "\n"}));
  EXPECT_EQ(defaults.answerEnd, "\r\n");
  // Lines ended by CR alone, LF alone or CR LF are lines all the same.
  for (const char* end : {"\r", "\n", "\r\n"}) {
    const nbdevice::ParsedFile lines =
        ParseDeviceFile(std::string("on \"A\" send \"1\"") + end + "on \"B\" send \"2\"" + end + end +
                        "reply");
    EXPECT_EQ(lines.error, "line 4: a line starts with requests, answers, on, match, otherwise, in, "
                           "starts, at, every, line, baud, seed, set, table, noise or silent device, not \"reply\"");
  }
}

TEST(DeviceFile, MistakesSayWhereAndWhy) {
  const std::pair<const char*, const char*> cases[] = {
      {"on \"W\" send \"x\"\non \"W\" reply \"x\"", "line 2: expected send, silent or close"},
      {"on W send \"x\"", "line 1: expected the request in quotes"},
      {"on \"W\" send \"x", "line 1: a double quote is never closed"},
      {"on \"W\" send \"\\q\"", "line 1: a \\ in"},
      {"on \"W\" send wait \"x\"", "line 1: wait takes a number"},
      {"on \"W\" send wait 1000000000 \"x\"", "line 1: wait takes a number of milliseconds, 0 to 999999999"},
      {"on \"W\" send wait 5", "line 1: a wait must be followed by a text or close"},
      {"on \"W\" send", "line 1: send takes at least one text"},
      {"on \"W\" silent \"x\"", "line 1: nothing may follow silent"},
      {"on \"Q\" send \"BYE\" close \"x\"", "line 1: nothing may follow close"},
      {"on \"Q\" close then \"m\"", "line 1: nothing may follow close"},
      {"on \"Q\" send wait 5 \"x\" wait", "line 1: wait takes a number"},
      {"match \"(\" send \"x\"", "line 1: the pattern \"(\" cannot be used: a ( is never closed"},
      {"match \"a)\" send \"x\"", "line 1: the pattern \"a)\" cannot be used: a ) has no ( before it"},
      {"match \"(a)\\\\1\" send \"x\"", "line 1: the pattern \"(a)\\\\1\" cannot be used: back references"},
      {"match \"(?=a)\" send \"x\"", "line 1: the pattern \"(?=a)\" cannot be used: look-arounds"},
      {"match \"*a\" send \"x\"", "line 1: the pattern \"*a\" cannot be used: there is nothing to repeat"},
      {"match \"[b-a]\" send \"x\"", "line 1: the pattern \"[b-a]\" cannot be used: a range in [ ] goes backwards"},
      {"match \"(a{1000}){1000}\" send \"x\"", "line 1: the pattern \"(a{1000}){1000}\" cannot be used: the pattern is too large"},
      {"on \"\" send \"x\"", "line 1: on \"\" is never heard"},
      {"otherwise send \"x\"\n\notherwise send \"y\"", "line 3: a second otherwise (the first is on line 1)"},
      {"requests end none\nmatch \"x*\" send \"y\"", "line 2: the pattern \"x*\" matches no bytes at all"},
      {"every 0 send \"x\"", "line 1: every takes a number of milliseconds, 1 to 999999999"},
      {"at 5 silent", "line 1: timed output must send something"},
      {"at 5 send \"x\" then \"m\"", "line 1: only a request's answer may change the mode"},
      {"on \"A\" send \"x\" then", "line 1: then takes the name of a mode"},
      {"in \"m\" close", "line 1: in \"m\" must be followed by on, match, otherwise, at or every"},
      {"starts \"m\"", "line 1: starts takes in and the name of a mode"},
      {"in \"m\" otherwise silent\notherwise silent\nin \"m\" otherwise silent",
       "line 3: a second otherwise in \"m\" (the first is on line 1)"},
      {"requests end \"\"", "line 1: an ending cannot be empty"},
      {"answers end \"a\" \"b\"", "line 1: answers end takes one text"},
      {"baud 0", "line 1: baud takes the rate the device talks at"},
      {"baud 9600 8N1", "line 1: baud takes the rate the device talks at"},
      {"\n\nreply \"x\"", "line 3: a line starts with requests, answers, on, match"},
      {"at 5 unplug error", "line 1: error takes the Windows error the port's calls fail with"},
      {"at 5 unplug error 0", "line 1: error takes the Windows error"},
      {"\nat 5 unplug now", "line 2: unplug takes only error N and then plug in after MS, not \"now\""},
      {"on \"R\" unplug then plug in", "line 1: unplug then takes plug in after and a number"},
      {"on \"R\" unplug then \"m\"", "line 1: unplug then takes plug in after"},
      {"on \"R\" unplug then plug in after 5 \"x\"", "line 1: unplug then takes plug in after"},
      {"at 5 plug", "line 1: plug takes in, and nothing after it"},
      {"at 5 plug in \"x\"", "line 1: plug takes in, and nothing after it"},
  };
  ExpectRefused(cases);
  const std::string nul = std::string("on \"a\" send \"\\x00\"\non \"b\" send \"x\"") + '\0';
  EXPECT_EQ(ParseDeviceFile(nul).error.rfind("line 2: a NUL byte", 0), 0u) << ParseDeviceFile(nul).error;
}

TEST(DeviceFile, QuotedBytes) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string quoted = nbdevice::Quoted(all);
  std::string back;
  ASSERT_TRUE(nbdevice::Unescape(quoted.substr(1, quoted.size() - 2), back));
  EXPECT_EQ(back, all);
  EXPECT_FALSE(nbdevice::Unescape("\\x4", back));
  EXPECT_FALSE(nbdevice::Unescape("\\xZZ", back));
  EXPECT_FALSE(nbdevice::Unescape("a\\", back));
}

TEST(Device, AnswersRequestsAsTheFileSays) {
  Device device(Parsed("on \"ID\" send \"WL\"\n"
                       "match \"ECHO (.*)\" send \"<$1>\"\n"
                       "on \"W\" send \"1\"\n"
                       "on \"HELLO\" silent\n"
                       "on \"W\" send \"2\"\n"
                       "on \"W\" silent\n"));
  device.open(0);
  EXPECT_EQ(AnswerAt(device, "ID\r\n", 0, 0), "WL\r\n");
  EXPECT_EQ(AnswerAt(device, "ECHO a b\r", 0, 0), "<a b>\r\n");
  // The three W lines take turns, then start again.
  EXPECT_EQ(AnswerAt(device, "W\nW\nW\nW\n", 0, 0), "1\r\n2\r\n1\r\n");
  EXPECT_EQ(AnswerAt(device, "HELLO\r\nOTHER\r\n", 0, 0), "");
  // A request may come in pieces; empty requests are not heard.
  EXPECT_EQ(AnswerAt(device, "I", 0, 0), "");
  EXPECT_EQ(AnswerAt(device, "D\r\n\r\n", 0, 0), "WL\r\n");

  Device other(Parsed("otherwise send \"ERR\"\non \"OK\" send \"yes\"\n"));
  other.open(0);
  EXPECT_EQ(AnswerAt(other, "OK\rX\r", 0, 0), "yes\r\nERR\r\n");
}

// Patterns are matched in one pass, so neither a long request nor a pattern
// that makes backtracking engines try every split of the request can crash
// or hold the device (the guide's "ECHO (.*)" once overflowed the stack at
// 9 KB; "(a+)+b" on 45 a's never finished). Groups capture what
// left-to-right, greedy-first engines capture, and $ only means a group the
// pattern has.
TEST(Device, PatternsMatchInOnePassAndCaptureAsUsual) {
  Device device(Parsed("match \"ECHO (.*)\" send \"$1\"\nmatch \"E.*\" send \"e\"\n"
                       "match \"(a+)+b\" send \"b\"\n"
                       "match \"P(\\\\d)\" send \"cost $5.00 and $1$$ for $&, $2\"\n"));
  device.setQueueSize(1 << 20);
  device.open(0);
  const std::string big(60000, 'x');
  device.hear("ECHO " + big + "\r", 0);
  device.advance(0);
  EXPECT_TRUE(device.take(1 << 20) == big + "\r\n");
  EXPECT_EQ(AnswerAt(device, "E" + big + "\r", 0, 0), "e\r\n");
  EXPECT_EQ(AnswerAt(device, std::string(45, 'a') + "\r", 0, 0), "");
  EXPECT_EQ(AnswerAt(device, std::string(45, 'a') + "b\r", 0, 0), "b\r\n");
  EXPECT_EQ(AnswerAt(device, "P7\r", 0, 0), "cost $5.00 and 7$ for P7, $2\r\n");

  const struct {
    const char* pattern;
    const char* text;
    std::vector<std::string> groups;  // "-" for a group that took no part
  } cases[] = {
      {"(a*)(a*)", "aaa", {"aaa", ""}},
      {"(a*?)(a*)", "aaa", {"", "aaa"}},
      {"(a|ab)(c|bcd)(d*)", "abcd", {"a", "bcd", ""}},
      {"(\\d+)-(\\d{2,3})", "12-345", {"12", "345"}},
      {"x(?:ab)+(y)?", "xabab", {"-"}},
      {"(a)|b", "b", {"-"}},
      {"\\bID\\b [^,]+,(\\w\\w)", "ID kg,GS", {"GS"}},
      {"^\\s*[+-]?\\d+\\.\\d+$", " -12.5", {}},
  };
  for (const auto& c : cases) {
    nbdevice::Pattern pattern;
    std::string error;
    ASSERT_TRUE(pattern.compile(c.pattern, error)) << c.pattern << ": " << error;
    nbdevice::Captures captures;
    ASSERT_TRUE(pattern.matchWhole(c.text, captures)) << c.pattern;
    ASSERT_EQ(pattern.groups(), c.groups.size()) << c.pattern;
    for (size_t k = 0; k < c.groups.size(); ++k) {
      const int start = captures[2 * k + 2], end = captures[2 * k + 3];
      EXPECT_EQ(start < 0 ? "-" : std::string(c.text).substr(start, end - start), c.groups[k])
          << c.pattern << " group " << k + 1;
    }
  }
  nbdevice::Pattern word;
  std::string error;
  nbdevice::Captures captures;
  ASSERT_TRUE(word.compile("ID\\b.*", error));
  EXPECT_FALSE(word.matchWhole("IDx", captures));
  EXPECT_TRUE(word.matchWhole("ID x", captures));
}

// Modes: a modem echoes commands until ATE0 turns the echo off, and an
// open starts it in its first mode again.
TEST(Device, LinesAnswerInTheirModeAndThenChangesIt) {
  Device modem(Parsed("requests end \"\\r\"\nstarts in \"echo\"\n"
                      "in \"echo\" on \"ATE0\" send \"ATE0\\r\\r\\nOK\" then \"quiet\"\n"
                      "in \"echo\" match \"(.*)\" send \"$1\\r\\r\\nERROR\"\n"
                      "on \"AT\" send \"\\r\\nOK\"\n"
                      "in \"quiet\" on \"ATE1\" silent then \"echo\"\n"
                      "in \"quiet\" otherwise send \"\\r\\nERROR\"\n"));
  modem.open(0);
  EXPECT_EQ(AnswerAt(modem, "AT\r", 0, 0), "AT\r\r\nERROR\r\n");  // the first line of its mode wins
  EXPECT_EQ(AnswerAt(modem, "ATE0\r", 0, 0), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(AnswerAt(modem, "AT\r", 0, 0), "\r\nOK\r\n");
  EXPECT_EQ(AnswerAt(modem, "ATX\r", 0, 0), "\r\nERROR\r\n");
  EXPECT_EQ(AnswerAt(modem, "ATE1\r", 0, 0), "");
  EXPECT_EQ(AnswerAt(modem, "ATX\r", 0, 0), "ATX\r\r\nERROR\r\n");
  EXPECT_EQ(AnswerAt(modem, "ATE0\r", 0, 0), "ATE0\r\r\nOK\r\n");
  modem.open(10);
  EXPECT_EQ(AnswerAt(modem, "ATX\r", 10, 10), "ATX\r\r\nERROR\r\n");
}

TEST(Device, WithoutEndingsARequestIsHeardWhenItsLastByteComes) {
  Device device(Parsed("requests end none\nanswers end none\n"
                       "on \"\\x05\" send \"\\x06\"\n"
                       "match \"S[0-9]{2}\" send \"[$&]\"\n"
                       "otherwise send \"never\"\n"));
  device.open(0);
  EXPECT_EQ(AnswerAt(device, "noise\x05", 0, 0), "\x06");
  EXPECT_EQ(AnswerAt(device, "S1", 0, 0), "");
  EXPECT_EQ(AnswerAt(device, "2xS34", 0, 0), "[S12][S34]");
}

TEST(Device, OutputFallsDueAsTheClockPasses) {
  Device device(Parsed("on \"W\" send wait 40 \"ST,\" wait 10 \"12.3\"\n"
                       "at 100 every 500 send \"tick\"\n"));
  device.open(1000);
  EXPECT_EQ(device.nextOutput(), 1100u);
  device.hear("W\r", 1010);
  EXPECT_EQ(device.nextOutput(), 1050u);
  device.advance(1049);
  EXPECT_EQ(device.waiting(), 0u);
  device.advance(1050);
  EXPECT_EQ(device.take(100), "ST,");
  EXPECT_EQ(device.nextOutput(), 1060u);
  device.advance(1100);
  EXPECT_EQ(device.take(2), "12");
  EXPECT_EQ(device.take(100), ".3\r\ntick\r\n");
  // Output missed while nobody called comes all at once, in order.
  device.advance(2100);
  EXPECT_EQ(device.take(100), "tick\r\ntick\r\n");
  EXPECT_EQ(device.nextOutput(), 2600u);

  // A new open drops what waits and starts the timed output again.
  device.hear("W\r", 2100);
  device.open(5000);
  device.advance(5060);
  EXPECT_EQ(device.waiting(), 0u);
  EXPECT_EQ(device.nextOutput(), 5100u);

  // What does not fit the queue is lost and reported once.
  device.setQueueSize(8);
  device.advance(5600);
  EXPECT_EQ(device.take(100), "tick\r\nti");
  EXPECT_TRUE(device.takeOverflow());
  EXPECT_FALSE(device.takeOverflow());

  Device quiet(Parsed("on \"W\" silent"));
  quiet.open(0);
  EXPECT_EQ(quiet.nextOutput(), nbdevice::kNever);

  // A piece that comes to nothing holds back nothing after it, at any rate.
  for (uint32_t byteUs : {0u, 1042u}) {
    Device echo(Parsed("answers end none\nmatch \"E(.*)\" send \"$1\" wait 5 \"!\"\non \"T\" send \"t\"\n"));
    echo.setByteTime(byteUs);
    echo.open(0);
    echo.hear("E\rT\r", 0);
    echo.advance(100);
    EXPECT_EQ(echo.take(100), "!t") << byteUs;  // in the order asked
    EXPECT_EQ(echo.nextOutput(), nbdevice::kNever) << byteUs;
  }
}

// A server ends its connection: after an answer, after a pause, alone, or
// at a time of its own; it hears nothing and sends nothing more until it
// is opened again.
TEST(Device, ACloseEndsTheConnectionWhereTheFileSays) {
  Device device(Parsed("on \"QUIT\" send \"BYE\" wait 50 close\n"
                       "on \"X\" close\n"
                       "at 0 every 100 send \"tick\"\n"
                       "at 1000 close\n"));
  device.open(0);
  device.hear("QUIT\r", 10);
  device.advance(59);
  EXPECT_EQ(device.take(100), "tick\r\nBYE\r\n");  // the ending goes after the text
  EXPECT_FALSE(device.closed());
  EXPECT_EQ(device.nextOutput(), 60u);
  device.advance(60);
  EXPECT_TRUE(device.closed());
  device.hear("X\r", 70);
  device.advance(500);
  EXPECT_EQ(device.waiting(), 0u);  // no more ticks, no answer
  EXPECT_EQ(device.nextOutput(), nbdevice::kNever);

  device.open(2000);  // a new connection
  EXPECT_FALSE(device.closed());
  device.hear("X\r", 2010);
  device.advance(2010);
  EXPECT_TRUE(device.closed());
  EXPECT_EQ(device.take(100), "tick\r\n");  // what came before the close stays

  device.open(3000);
  device.advance(3999);
  EXPECT_FALSE(device.closed());
  device.advance(4000);
  EXPECT_TRUE(device.closed());
  EXPECT_EQ(device.take(1000).size(), 11u * 6);  // ticks at 0, 100, ... 1000: at one time, file order
}

// A device made from a log has each answer ready by the time the script
// read it: a script that wrote, paused and then read saw the answer at its
// read, but it came after the write (no look in between), so it is sent
// right away. Output nobody asked for that holds several lines stays a
// stream that goes on after the log's end.
// Once the port's settings give the time of a byte, output reaches the
// queue a byte at a time as the line carries it: a device streaming faster
// than its rate backs up in the device instead of flooding the port.
TEST(DeviceFile, UnplugAndPlugInAreRead) {
  const DeviceFile file = Parsed(
      "at 5000 unplug\n"
      "at 8000 plug in\n"
      "on \"RESET\" unplug then plug in after 2000\n"
      "on \"PULL\" unplug error 1617\n");
  ASSERT_EQ(file.timed.size(), 2u);
  ASSERT_EQ(file.timed[0].answer.size(), 1u);
  EXPECT_TRUE(file.timed[0].answer[0].unplug);
  EXPECT_EQ(file.timed[0].answer[0].error, 0u);  // the port's default
  EXPECT_TRUE(file.timed[1].answer[0].plugIn);
  ASSERT_EQ(file.rules.size(), 2u);
  ASSERT_EQ(file.rules[0].answer.size(), 2u);
  EXPECT_TRUE(file.rules[0].answer[0].unplug);
  EXPECT_TRUE(file.rules[0].answer[1].plugIn);
  EXPECT_EQ(file.rules[0].answer[1].waitMs, 2000u);
  EXPECT_EQ(file.rules[1].answer[0].error, 1617u);
}

// Pulled out, the device hears and sends nothing and loses what it held;
// a plug in that falls due brings it back, open or not.
TEST(Device, IsUnpluggedAndPluggedInWhereTheFileSays) {
  Device device(Parsed("answers end none\n"
                       "every 100 send \"t\"\n"
                       "on \"RESET\" send \"bye\" wait 10 \"!\"\n"
                       "on \"PULL\" unplug error 1617 then plug in after 2000\n"
                       "at 5000 unplug\n"
                       "at 8000 plug in\n"));
  device.open(0);
  device.advance(250);
  EXPECT_EQ(device.take(10), "tt");
  EXPECT_FALSE(device.unplugged());
  device.hear("RESET\r", 250);
  device.hear("PULL\r", 255);
  device.advance(300);
  EXPECT_TRUE(device.unplugged());
  EXPECT_EQ(device.removalError(), 1617u);
  EXPECT_EQ(device.waiting(), 0u);  // "bye", "!" and the stream's "t" are gone
  // PULL's answer starts when RESET's has ended, at 260.
  device.advance(2259);
  EXPECT_TRUE(device.unplugged());
  EXPECT_EQ(device.waiting(), 0u);
  device.advance(2260);
  EXPECT_FALSE(device.unplugged());
  device.advance(2300);
  EXPECT_EQ(device.take(10), "t");  // sending again
  // Timed statements count from the open and outlive a close: the next
  // open starts them again.
  device.advance(5000);
  EXPECT_TRUE(device.unplugged());
  EXPECT_EQ(device.removalError(), 0u);
  device.advance(7999);
  EXPECT_TRUE(device.unplugged());
  device.advance(8000);
  EXPECT_FALSE(device.unplugged());
  device.open(9000);
  device.advance(13999);
  EXPECT_FALSE(device.unplugged());
  device.advance(14000);
  EXPECT_TRUE(device.unplugged());
}

TEST(Device, OutputGoesAtThePortsRate) {
  Device device(Parsed("answers end none\non \"W\" send wait 10 \"0123456789\"\n"));
  device.setByteTime(nbport::ByteMicroseconds(9600, 8, 0, 0));  // 1,042 us: 10 bits
  device.setQueueSize(1 << 20);
  device.open(0);
  device.hear("W\r", 0);
  device.advance(10);
  EXPECT_EQ(device.waiting(), 0u);
  device.advance(20);
  EXPECT_EQ(device.take(100), "012345678");  // 9 of 9.6 bytes' time
  EXPECT_EQ(device.nextOutput(), 21u);
  device.advance(21);
  EXPECT_EQ(device.take(100), "9");

  Device stream(Parsed("every 1 send \"0123456789012345678\"\n"));  // 21 bytes a millisecond
  stream.setByteTime(nbport::ByteMicroseconds(115200, 8, 0, 0));
  stream.setQueueSize(1 << 20);
  stream.open(0);
  for (nbdevice::Millis now = 0; now <= 1000; now += 7) stream.advance(now);
  EXPECT_LE(stream.waiting(), 11521u);  // 115,200 bits a second, 10 a byte
  EXPECT_GE(stream.waiting(), 11400u);
  EXPECT_EQ(nbport::ByteMicroseconds(300, 7, 2, 2), 36667u);  // 11 bits

  // A device made from a log keeps the log's times, which are the line's.
  Device replay(Parsed("line rate none\nanswers end none\non \"W\" send \"0123456789\"\n"));
  replay.setByteTime(nbport::ByteMicroseconds(9600, 8, 0, 0));
  replay.open(0);
  EXPECT_EQ(AnswerAt(replay, "W\r", 0, 0), "0123456789");
}

// A device that talks at one rate only: on a port set to another it hears
// no request and its output arrives as garbage with no line end in it; set
// to its rate, it talks. A played server has no rate and always talks.
TEST(Device, TalksAtItsOwnRateOnly) {
  const DeviceFile file = Parsed("baud 4800\non \"AT\" send \"OK\"\nevery 100 send \"$GP\"\n");
  EXPECT_EQ(file.baud, 4800u);
  Device device(file);
  device.setRate(9600);
  device.open(0);
  EXPECT_EQ(AnswerAt(device, "AT\r", 10, 50), "");
  device.advance(100);
  const std::string garbage = device.take(100);
  ASSERT_EQ(garbage.size(), 5u);
  for (char c : garbage.substr(0, 3)) EXPECT_GE(static_cast<unsigned char>(c), 0x80u) << nbdevice::Quoted(garbage);
  EXPECT_EQ(garbage.substr(3), "\r\n");  // a line read still ends
  device.setRate(4800);
  EXPECT_EQ(AnswerAt(device, "AT\r", 110, 110), "OK\r\n");
  device.advance(200);
  EXPECT_EQ(device.take(100), "$GP\r\n");

  Device server(file);  // no rate is set for a connection
  server.open(0);
  EXPECT_EQ(AnswerAt(server, "AT\r", 0, 0), "OK\r\n");
  EXPECT_EQ(Parsed("on \"A\" send \"B\"").baud, 0u);  // any rate
}

TEST(DeviceFromLog, AnswersAreReadyWhenTheScriptReadsAndStreamsStayStreams) {
  const std::string paused = FromLog(
      "      0.0 COM1   open \"COM1\": ok\n"
      "      1.0 COM1   >     3 \"P\\r\\n\"\n"
      "     55.3 COM1   <     5 \"12.5\\r\"  (came after 0.0)\n");
  Device device(Parsed(paused));
  device.open(0);
  EXPECT_EQ(AnswerAt(device, "P\r\n", 1000, 1000), "12.5\r") << paused;

  const std::string stream = FromLog(
      "      0.0 COM1   open \"COM1\": ok\n"
      "    365.0 COM1   <    18 \"ST,+1\\r\\nST,+1\\r\\nST,+1\\r\\n\"  (came after 0.0)\n"
      "    700.0 COM1   close: ok\n");
  EXPECT_NE(stream.find("at 0 every 122 send \"ST,+1\\r\\n\""), std::string::npos) << stream;
  const std::string readings = FromLog(
      "      0.0 COM1   open \"COM1\": ok\n"
      "    100.0 COM1   <     6 \"ST,+1\\r\\n\"  (came after 90.0)\n"
      "    200.0 COM1   <    12 \"US,+2\\r\\nST,+3\\r\\n\"  (came after 190.0)\n");
  Device scale(Parsed(readings));
  scale.open(0);
  scale.advance(190);
  EXPECT_EQ(scale.take(100), "ST,+1\r\nUS,+2\r\nST,+3\r\n") << readings;
  scale.advance(340);  // again after a cycle of three lines, 50 ms apart
  EXPECT_EQ(scale.take(100), "ST,+1\r\nUS,+2\r\nST,+3\r\n") << readings;
}

TEST(DeviceFromLog, ReplaysTheDialogueInItsPiecesAndDelays) {
  const std::string log =
      "       ms where  what\n"
      "      5.0 COM2   open \"COM2\": ok\n"
      "     25.0 COM2   <     7 \"READY\\r\\n\"\n"
      "     30.0 COM1   >     3 \"X\\r\\n\"\n"
      "     40.0 COM2   >     1 \"W\"\n"
      "     41.0 COM2   >     2 \"\\r\\n\"\n"
      "     76.0 COM2   <     6 \"ST,GS,\"  (6 reads)\n"
      "     86.4 COM2   <     4 \"1.5\\r\"\n"
      "     90.0 COM2   <     0 nothing  (asked 1, waited 210 ms)\n"
      "    100.0 COM2   >     4 \"W\\r\\n\"\n"
      "    101.0 COM2   <     1 \"\\n\"  (waiting since 86.4)\n"
      "    120.0 COM2   <     3 \"2\\r\\n\"\n"
      "    130.0 COM2   >     4 \"Q\\r\\n\"\n"
      "    140.0 COM2   close: ok\n";
  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(log, "\\\\.\\COM2", "spy.log");
  ASSERT_TRUE(made.ok) << made.error;
  EXPECT_EQ(made.port, "COM2");
  Device device(Parsed(made.deviceFile));
  device.open(0);
  device.advance(19);
  EXPECT_EQ(device.waiting(), 0u);
  device.advance(20);
  EXPECT_EQ(device.take(100), "READY\r\n");
  device.hear("W\r\n", 1000);
  device.advance(1034);
  EXPECT_EQ(device.waiting(), 0u);
  device.advance(1044);
  EXPECT_EQ(device.take(100), "ST,GS,");
  device.advance(1045);  // the LF read after the next request came with the rest
  EXPECT_EQ(device.take(100), "1.5\r\n");
  EXPECT_EQ(AnswerAt(device, "W\r\n", 2000, 2020), "2\r\n");
  EXPECT_EQ(AnswerAt(device, "Q\r\n", 3000, 9000), "");
  EXPECT_EQ(AnswerAt(device, "W\r\n", 4000, 9000), "ST,GS,1.5\r\n");  // the turns start again

  // Writes without line endings are requests as they stand.
  const nbdevice::LogConversion bytes = nbdevice::DeviceFromLog(
      "      1.0 COM1   >     1 \"\\x05\"\n      2.0 COM1   <     1 \"\\x06\"\n", "", "b.log");
  ASSERT_TRUE(bytes.ok) << bytes.error;
  EXPECT_EQ(bytes.port, "COM1");
  Device byteDevice(Parsed(bytes.deviceFile));
  byteDevice.open(0);
  EXPECT_EQ(AnswerAt(byteDevice, "\x05", 0, 1), "\x06");

  // Bytes the script never read come with the answer all the same.
  const std::string unread = FromLog(
      "      0.0 COM1   open \"COM1\": ok\n"
      "      1.0 COM1   >     3 \"W\\r\\n\"\n"
      "     20.0 COM1   <     4 \"1.5\\r\"  (4 reads, came after 10.0)\n"
      "     90.0 COM1   <     1 \"\\n\"  (never read, came after 10.0)\n"
      "     91.0 COM1   close: ok\n");
  Device unreadDevice(Parsed(unread));
  unreadDevice.open(0);
  EXPECT_EQ(AnswerAt(unreadDevice, "W\r\n", 100, 200), "1.5\r\n") << unread;

  // A write of nothing is no request.
  const std::string empty = FromLog(
      "      1.0 COM1   >     0 \n      2.0 COM1   >     1 \"A\"\n      3.0 COM1   <     1 \"B\"\n");
  EXPECT_EQ(empty.find("on \"\""), std::string::npos) << empty;

  EXPECT_FALSE(nbdevice::DeviceFromLog(log, "COM3", "spy.log").ok);
  EXPECT_FALSE(nbdevice::DeviceFromLog("nothing here\n", "", "x.log").ok);
}

// A server's connections as the spy logged them: the one asked for, found
// by the address its host was found at, with its greeting and its close.
TEST(DeviceFromLog, ReplaysAServerFromItsConnections) {
  const std::string log =
      "       ms where  what\n"
      "      1.0 TCP    find \"other\": 127.0.0.9\n"
      "      2.0 TCP    connect 127.0.0.9:80: ok\n"
      "      3.0 TCP    >     3 \"X\\r\\n\"\n"
      "      4.0 TCP    <     3 \"Y\\r\\n\"\n"
      "      5.0 TCP    close: ok\n"
      "     10.0 TCP    find \"Lines.Local\": 127.87.66.1\n"
      "     11.0 TCP    connect 127.87.66.1:7000: ok\n"
      "     31.0 TCP    <     7 \"READY\\r\\n\"\n"
      "     40.0 TCP    >     6 \"QUIT\\r\\n\"\n"
      "     45.0 TCP    <     5 \"BYE\\r\\n\"\n"
      "     60.0 TCP    <     0 the peer closed the connection\n"
      "     61.0 TCP    <     0 the peer closed the connection\n"
      "     70.0 TCP    close: ok\n";
  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(log, "lines.local:7000", "spy.log");
  ASSERT_TRUE(made.ok) << made.error;
  EXPECT_EQ(made.port, "lines.local:7000");
  EXPECT_NE(made.deviceFile.find("on \"QUIT\" send wait 5 \"BYE\\r\\n\" wait 15 close\n"), std::string::npos)
      << made.deviceFile;
  Device device(Parsed(made.deviceFile));
  device.open(0);
  device.advance(20);
  EXPECT_EQ(device.take(100), "READY\r\n");
  EXPECT_EQ(AnswerAt(device, "X\r\n", 30, 100), "");  // the other server's request
  device.hear("QUIT\r\n", 200);
  device.advance(219);
  EXPECT_EQ(device.take(100), "BYE\r\n");
  EXPECT_FALSE(device.closed());
  device.advance(220);
  EXPECT_TRUE(device.closed());

  // Without a place, the first the log shows an exchange with.
  const nbdevice::LogConversion first = nbdevice::DeviceFromLog(log, "", "spy.log");
  ASSERT_TRUE(first.ok) << first.error;
  EXPECT_EQ(first.port, "127.0.0.9:80");
  EXPECT_FALSE(nbdevice::DeviceFromLog(log, "127.0.0.9:81", "spy.log").ok);
}

namespace {

// What a device opened at 0 sends in answer to each request, heard 1 s apart.
std::vector<std::string> Answers(const std::string& file, const std::vector<std::string>& requests) {
  Device device(Parsed(file));
  device.open(0);
  std::vector<std::string> answers;
  nbdevice::Millis now = 0;
  for (const std::string& request : requests) {
    answers.push_back(AnswerAt(device, request, now, now + 999));
    now += 1000;
  }
  return answers;
}

std::vector<std::string> NoteTexts(Device& device) {
  std::vector<std::string> texts;
  for (const nbdevice::DeviceNote& note : device.takeNotes()) texts.push_back(note.text);
  return texts;
}

}  // namespace

TEST(DeviceFile, TheWordsOfStateFaultsAndTimingAreRead) {
  const DeviceFile file = Parsed(
      "seed 42\n"
      "answers lose 1 in 5\n"
      "answers out of order\n"
      "noise every 500..3000 \"\\x00\\xFF\"\n"
      "set \"sp\" \"50\"\n"
      "table \"hr\" 10..13 = 1 -2\n"
      "requests end gap\n"
      "requests check crc16\n"
      "match \"S(.)\" set \"sp\" \"$1\" send wait 20..300 \"OK\" noend cut after 3 every 4 then \"m\"\n"
      "in \"m\" every 900..1100 send \"{sp}\" garble 1 in 2 repeat every 3\n");
  EXPECT_TRUE(file.seedGiven);
  EXPECT_EQ(file.seed, 42u);
  ASSERT_EQ(file.answerFaults.size(), 1u);
  EXPECT_EQ(file.answerFaults[0].chance, 1u);
  EXPECT_EQ(file.answerFaults[0].in, 5u);
  EXPECT_EQ(file.answerFaults[0].line, 2);
  EXPECT_TRUE(file.outOfOrder);
  EXPECT_EQ(file.noise.leastMs, 500u);
  EXPECT_EQ(file.noise.mostMs, 3000u);
  EXPECT_EQ(file.noise.bytes, std::string("\0\xFF", 2));
  EXPECT_EQ(file.initial.values.at("sp"), "50");
  EXPECT_EQ(file.initial.tables.at("hr").first, 10u);
  EXPECT_EQ(file.initial.tables.at("hr").entries, (std::vector<int64_t>{1, -2, 0, 0}));
  EXPECT_TRUE(file.gapEnded);
  EXPECT_TRUE(file.requestEnds.empty());
  EXPECT_TRUE(file.checked);
  const nbdevice::Rule& rule = file.rules.at(0);
  ASSERT_EQ(rule.answer.size(), 1u);
  EXPECT_EQ(rule.answer[0].waitMs, 20u);
  EXPECT_EQ(rule.answer[0].waitMostMs, 300u);
  EXPECT_TRUE(rule.delivery.noEnd);
  ASSERT_EQ(rule.delivery.sets.size(), 1u);
  ASSERT_EQ(rule.delivery.faults.size(), 1u);
  EXPECT_EQ(rule.delivery.faults[0].kind, nbdevice::Fault::Kind::Cut);
  EXPECT_EQ(rule.delivery.faults[0].cutAfter, 3u);
  EXPECT_EQ(rule.delivery.faults[0].every, 4u);
  EXPECT_EQ(rule.delivery.faults[0].line, 9);
  EXPECT_EQ(rule.then, "m");
  const nbdevice::Timed& stream = file.timed.at(0);
  EXPECT_EQ(stream.mode, "m");
  EXPECT_EQ(stream.everyMs, 900u);
  EXPECT_EQ(stream.everyMostMs, 1100u);
  EXPECT_EQ(stream.delivery.faults.size(), 2u);

  const DeviceFile plain = Parsed("on \"A\" send \"B\"");
  EXPECT_FALSE(plain.seedGiven);
  EXPECT_EQ(plain.seed, 1u);  // a run without a seed repeats all the same
  EXPECT_TRUE(Parsed("# a server that never answers\nsilent device\n").silentDevice);
}

TEST(DeviceFile, MistakesInTheNewWordsSayWhereAndWhy) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "line 1: the file answers nothing and sends nothing (write silent device"},
      {"# only a comment\nbaud 9600\n", "line 1: the file answers nothing"},
      {"on \"A\" send \"x\"\nin \"nosuch\" on \"B\" send \"y\"", "line 2: the mode \"nosuch\" is never entered"},
      {"on \"A\" send \"x\" then \"ghost\"", "line 1: the mode \"ghost\" has no lines"},
      {"in \"s\" every 100 send \"x\"", "line 1: the mode \"s\" is never entered"},
      {"\nmatch \"A(.)\" send \"$10\"", "line 2: $10: the pattern has 1 group (write \"$1\" \"0\""},
      {"on \"A\" send \"{nosuch}\"", "line 1: {nosuch} is never set"},
      {"on \"A\" send \"{u16 hr 0 1}\"", "line 1: there is no table \"hr\""},
      {"on \"A\" send \"{walk 1 2}\"", "line 1: {walk 1 2}: walk takes a start, a step and a range"},
      {"on \"A\" send \"{time hhxx}\"", "line 1: {time hhxx}: time takes a form"},
      {"on \"A\" send \"{oops\"", "line 1: a { is never closed (write {{ for a brace)"},
      {"on \"A\" send \"{crc16 from}\"", "line 1: {crc16 from} is not a template (write {{ for a brace)"},
      {"on \"A\" send \"{#1 %q}\"", "line 1: {#1 %q}: a number's form is printf's"},
      {"on \"A\" send \"{u8 2**3}\"", "line 1: the number 2**3 is not one"},
      {"on \"A\" send \"x\" lose 6 in 5", "line 1: a fault takes how often, as 1 in 5 or every 5"},
      {"on \"A\" send \"x\" lose every 0", "line 1: a fault takes how often"},
      {"on \"A\" send \"x\" cut after 0 every 2", "line 1: cut after takes a number of bytes"},
      {"on \"A\" send \"x\" noend \"y\"", "line 1: after noend and faults only more faults, close or then"},
      {"on \"A\" send wait 9..5 \"x\"", "line 1: wait takes a number of milliseconds, 0 to 999999999, or a range"},
      {"every 0..5 send \"x\"", "line 1: every takes a number of milliseconds, 1 to 999999999, or a range"},
      {"answers lose 1 in 5 \"x\"", "line 1: nothing may follow a fault of every answer"},
      {"answers out of turn", "line 1: answers out takes of order"},
      {"noise every 0..5", "line 1: noise takes every and milliseconds"},
      {"seed x", "line 1: seed takes a whole number"},
      {"table \"t\" 0..1 = 1 2 3", "line 1: more values than the table's entries"},
      {"table \"t\" 0..70000 = 1", "line 1: a table holds at most 65536 entries"},
      {"table \"t\" 0..1 = 1\ntable \"t\" 0..1 = 2", "line 2: a second table \"t\""},
      {"table \"t\" 0..1 = 1\non \"A\" set \"t\" \"2\" send \"x\"", "line 2: set \"t\" names a table"},
      {"on \"A\" set \"v\" \"1\" \"2\" send \"x\"", "line 1: set \"v\" with an entry names no table"},
      {"requests check md5", "line 1: requests check takes one of crc16, lrc, sum8, xor8 or nmea"},
      {"silent please", "line 1: silent takes device"},
  };
  ExpectRefused(cases);
  // What is not a mistake: a mode that only stops others' lines is the one
  // the device starts in; $10 where the pattern has ten groups; $50 where
  // no group 5 exists; a brace that no letter follows.
  Parsed("starts in \"idle\"\non \"SIR\" send \"OK\" then \"run\"\nin \"run\" on \"@\" send \"OK\" then \"idle\"\n");
  EXPECT_EQ(Answers("match \"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)\" send \"$10\"", {"abcdefghij\r"})[0], "j\r\n");
  EXPECT_EQ(Answers("match \"A(.)\" send \"cost $50\"", {"Ax\r"})[0], "cost $50\r\n");
  EXPECT_EQ(Answers("on \"J\" send \"{\\\"t\\\":1} {{x}\"", {"J\r"})[0], "{\"t\":1} {x}\r\n");
}

// Each fault plays as the file says and is noted with its line; the same
// seed plays the same faults, another seed others.
TEST(Device, SeededFaultsRepeatAndAreNoted) {
  const std::vector<std::string> eight(8, "W\r");
  EXPECT_EQ(Answers("on \"W\" send \"0123456789\" lose every 3", eight),
            (std::vector<std::string>{"0123456789\r\n", "0123456789\r\n", "", "0123456789\r\n",
                                      "0123456789\r\n", "", "0123456789\r\n", "0123456789\r\n"}));
  EXPECT_EQ(Answers("on \"W\" send \"0123456789\" cut after 4 every 1", {"W\r"})[0], "0123");
  EXPECT_EQ(Answers("on \"W\" send \"AB\" wait 5 \"CD\" repeat every 2", {"W\r", "W\r"})[1], "ABCD\r\nABCD\r\n");

  const std::string faulty =
      "seed 9\non \"W\" send \"0123456789\" cut 1 in 3 garble 1 in 3\nanswers lose 1 in 4\n";
  const std::vector<std::string> many(60, "W\r");
  const std::vector<std::string> first = Answers(faulty, many);
  EXPECT_EQ(Answers(faulty, many), first);  // repeatable
  std::string other = faulty;
  other.replace(5, 1, "8");
  EXPECT_NE(Answers(other, many), first);
  int whole = 0, lost = 0, cut = 0, garbled = 0;
  for (const std::string& answer : first) {
    whole += answer == "0123456789\r\n";
    lost += answer.empty();
    cut += !answer.empty() && answer.size() < 12;
    garbled += answer.size() == 12 && answer != "0123456789\r\n";
  }
  EXPECT_GT(whole, 15);
  EXPECT_GT(lost, 5);
  EXPECT_GT(cut, 5);
  EXPECT_GT(garbled, 5);

  Device device(Parsed(faulty));
  device.open(0);
  for (int k = 0; k < 60; ++k) AnswerAt(device, "W\r", k * 1000, k * 1000 + 999);
  const std::vector<nbdevice::DeviceNote> notes = device.takeNotes();
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes[0].text, "seed 9");
  EXPECT_EQ(notes[0].at, 0u);
  int lostNotes = 0, cutNotes = 0, garbledNotes = 0;
  for (const nbdevice::DeviceNote& note : notes) {
    lostNotes += note.text == "lost by line 3";
    cutNotes += note.text.rfind("cut after ", 0) == 0 && note.text.find(" of 12 bytes by line 2") != std::string::npos;
    garbledNotes += note.text.rfind("garbled byte ", 0) == 0 && note.text.find(" by line 2") != std::string::npos;
  }
  EXPECT_EQ(lostNotes, lost);
  // A cut or garbled answer may be lost after: at least one note each.
  EXPECT_GE(cutNotes, cut);
  EXPECT_GE(garbledNotes, garbled);
  device.open(100000);  // opens do not start the draws again, but say the seed again
  EXPECT_EQ(NoteTexts(device), (std::vector<std::string>{"seed 9"}));

  // A note for a fault names exactly what was played.
  Device noted(Parsed("on \"W\" send \"0123456789\" cut after 4 every 1\n"));
  noted.open(0);
  AnswerAt(noted, "W\r", 5, 5);
  EXPECT_EQ(NoteTexts(noted), (std::vector<std::string>{"seed 1", "cut after 4 of 12 bytes by line 1"}));

  // noend leaves the line end out, and a close does not push it out.
  EXPECT_EQ(Answers("on \"Q\" send \"PART\" noend close", {"Q\r"})[0], "PART");
}

TEST(Device, WaitRangesAndStreamIntervalsStayWithinTheirBounds) {
  Device device(Parsed("on \"W\" send wait 20..300 \"x\"\n"));
  device.open(0);
  std::set<nbdevice::Millis> delays;
  for (nbdevice::Millis asked = 0; asked < 100000; asked += 1000) {
    device.hear("W\r", asked);
    const nbdevice::Millis due = device.nextOutput();
    ASSERT_GE(due, asked + 20);
    ASSERT_LE(due, asked + 300);
    device.advance(due - 1);
    EXPECT_EQ(device.waiting(), 0u);
    device.advance(due);
    EXPECT_EQ(device.take(10), "x\r\n");
    delays.insert(due - asked);
  }
  EXPECT_GT(delays.size(), 20u);  // drawn anew each time

  Device stream(Parsed("every 900..1100 send \"t\"\n"));
  stream.open(0);
  nbdevice::Millis last = 0;
  std::set<nbdevice::Millis> intervals;
  for (int k = 0; k < 50; ++k) {
    const nbdevice::Millis due = stream.nextOutput();
    ASSERT_GE(due - last, 900u);
    ASSERT_LE(due - last, 1100u);
    stream.advance(due);
    EXPECT_EQ(stream.take(10), "t\r\n");
    intervals.insert(due - last);
    last = due;
  }
  EXPECT_GT(intervals.size(), 10u);
}

// A balance answers in the order it was asked: S (after 300 ms) before SI
// (at once), SI counted from the end of S's answer; out of order, each
// after its own delay.
TEST(Device, AnswersLeaveInTheOrderAsked) {
  const std::string balance = "on \"S\" send wait 300 \"S S 12.34 g\"\non \"SI\" send \"S D 12.30 g\"\n";
  Device inOrder(Parsed(balance));
  inOrder.open(0);
  inOrder.hear("S\r\n", 0);
  inOrder.hear("SI\r\n", 1);
  inOrder.advance(299);
  EXPECT_EQ(inOrder.waiting(), 0u);
  inOrder.advance(300);
  EXPECT_EQ(inOrder.take(100), "S S 12.34 g\r\nS D 12.30 g\r\n");

  Device late(Parsed("answers out of order\n" + balance));
  late.open(0);
  late.hear("S\r\n", 0);
  late.hear("SI\r\n", 1);
  late.advance(1);
  EXPECT_EQ(late.take(100), "S D 12.30 g\r\n");
  late.advance(300);
  EXPECT_EQ(late.take(100), "S S 12.34 g\r\n");

  // The next answer's wait counts from the end of the one before it, on the line.
  Device paced(Parsed("answers end none\non \"A\" send \"0123456789\"\non \"B\" send wait 5 \"b\"\n"));
  paced.setByteTime(1000);  // a byte a millisecond
  paced.open(0);
  paced.hear("A\rB\r", 0);
  paced.advance(14);
  EXPECT_EQ(paced.take(100), "0123456789");
  EXPECT_EQ(paced.nextOutput(), 16u);  // "b" goes at 15 and is in the queue 1 ms later
  paced.advance(16);
  EXPECT_EQ(paced.take(100), "b");
}

// A stream's line waits for the answer on the line to end, and an answer
// for the stream's line; an answer's pieces stay together.
TEST(Device, AStreamsLinesAndAnswersNeverMix) {
  Device device(Parsed("answers end none\nevery 10 send \"<stream>\"\n"
                       "on \"W\" send \"[a\" wait 15 \"b]\"\n"));
  device.setByteTime(1000);
  device.open(0);
  device.hear("W\r", 12);  // the first stream line is on the line from 10 to 18
  device.advance(100);
  const std::string sent = device.take(1000);
  EXPECT_EQ(sent.substr(0, 20), "<stream>[ab]<stream>") << sent;
  for (size_t at = 12; at < sent.size(); at += 8) {
    EXPECT_EQ(sent.substr(at, 8), std::string("<stream>").substr(0, sent.size() - at)) << sent;
  }
  EXPECT_GT(sent.size(), 12u + 7 * 8);  // the stream's lines due meanwhile came after, all of them
}

// Streams in a mode start counting when the device enters it and stop when
// it leaves.
TEST(Device, StreamsRunWhileTheDeviceIsInTheirMode) {
  Device device(Parsed("starts in \"idle\"\non \"SIR\" send \"OK\" then \"run\"\n"
                       "in \"run\" every 100 send \"S {count n}\"\nin \"run\" at 50 send \"first\"\n"
                       "in \"run\" on \"@\" send \"OK\" then \"idle\"\n"));
  device.open(0);
  device.advance(1000);
  EXPECT_EQ(device.waiting(), 0u);
  EXPECT_EQ(AnswerAt(device, "SIR\r", 1000, 1099), "OK\r\nfirst\r\n");
  device.advance(1350);
  EXPECT_EQ(device.take(100), "S 1\r\nS 2\r\nS 3\r\n");
  EXPECT_EQ(AnswerAt(device, "@\r", 1360, 5000), "OK\r\n");
  EXPECT_EQ(AnswerAt(device, "SIR\r", 5000, 5100), "OK\r\nfirst\r\nS 4\r\n");  // counted afresh from 5000
}

// Every occurrence of a stream is made when due whether or not anyone
// reads; what does not fit the queue is lost and reported.
TEST(Device, UnreadStreamsFillTheQueueAndReportTheOverflow) {
  Device fast(Parsed("answers end none\nevery 1 send \"X\"\n"));
  fast.setQueueSize(1 << 20);
  fast.open(0);
  fast.advance(3000);
  EXPECT_EQ(fast.waiting(), 3000u);
  fast.advance(6000);
  EXPECT_EQ(fast.waiting(), 6000u);
  EXPECT_FALSE(fast.overflowed());

  Device ten(Parsed("answers end none\nevery 10 send \"X\"\n"));
  ten.setQueueSize(1 << 20);
  ten.open(0);
  for (nbdevice::Millis now = 0; now <= 15000; now += 700) ten.advance(now);
  ten.advance(15000);
  EXPECT_EQ(ten.waiting(), 1500u);

  Device full(Parsed("every 1 send \"{count n %06d}\"\n"));
  full.setQueueSize(4096);
  full.open(0);
  full.advance(3000);
  EXPECT_EQ(full.waiting(), 4096u);
  EXPECT_TRUE(full.overflowed());
  EXPECT_EQ(full.take(8), "000001\r\n");  // the oldest stay; what came after was lost
  full.take(1 << 20);
  EXPECT_TRUE(full.takeOverflow());
  EXPECT_FALSE(full.overflowed());
  full.advance(3002);
  const std::string fresh = full.take(100);  // those due at 3001 and 3002, one after the other
  ASSERT_EQ(fresh.size(), 16u) << fresh;
  EXPECT_EQ(std::stoi(fresh.substr(8)), std::stoi(fresh) + 1) << fresh;
  // Ten days unread cost no more than a few calls.
  full.advance(3002 + 864000000ull);
  EXPECT_EQ(full.waiting(), 4096u);
  EXPECT_TRUE(full.overflowed());
}

// With backpressure (a played server whose client does not read) what
// does not fit waits in the device instead, and the stream with it.
TEST(Device, BackpressureKeepsOutputInTheDevice) {
  Device device(Parsed("answers end none\nevery 1 send \"{count n %04d}\"\n"));
  device.setQueueSize(10);
  device.setBackpressure(true);
  device.open(0);
  device.advance(100);
  EXPECT_EQ(device.waiting(), 10u);
  EXPECT_FALSE(device.overflowed());
  EXPECT_EQ(device.nextOutput(), nbdevice::kNever);
  EXPECT_EQ(device.take(100), "0001000200");
  device.advance(100);
  EXPECT_EQ(device.take(100), "0300040005");  // the stream went on where it stopped
  EXPECT_FALSE(device.overflowed());
}

// Values set by one request and reported by another, counters, numbers
// that wander within their range, the time of day.
TEST(Device, TemplatesFillInStateCountersWalksAndTime) {
  EXPECT_EQ(Answers("set \"sp\" \"50\"\nmatch \"SETP (\\\\d+)\" set \"sp\" \"$1\" send \"OK\"\n"
                    "on \"SETP?\" send \"SP={sp}\"\n",
                    {"SETP?\r", "SETP 75\r", "SETP?\r"}),
            (std::vector<std::string>{"SP=50\r\n", "OK\r\n", "SP=75\r\n"}));
  EXPECT_EQ(Answers("on \"N\" send \"#{count n}/{count m %03d}\"\n", {"N\r", "N\r", "N\r"}),
            (std::vector<std::string>{"#1/001\r\n", "#2/002\r\n", "#3/003\r\n"}));
  EXPECT_EQ(Answers("match \"A(\\\\d+)\" send \"{$1*2+1 %5d}|{$1/3 %-4X}|{$1 %+.2f}\"\n", {"A30\r"})[0],
            "   61|A   |+30.00\r\n");

  Device walker(Parsed("on \"T\" send \"{walk 23.0 0.1 22.8..23.3 %.1f}\"\n"));
  walker.open(0);
  double last = 23.0;
  std::set<std::string> seen;
  for (int k = 0; k < 200; ++k) {
    const std::string text = AnswerAt(walker, "T\r", k, k);
    const double value = std::stod(text);
    EXPECT_GE(value, 22.8 - 1e-9);
    EXPECT_LE(value, 23.3 + 1e-9);
    EXPECT_LE(std::fabs(value - last), 0.1 + 0.051) << text;  // the step, and the last digit's rounding
    EXPECT_EQ(text.size(), 6u) << text;
    last = value;
    seen.insert(text);
  }
  EXPECT_GE(seen.size(), 5u);

  Device clock(Parsed("on \"T\" send \"{time hhmmss.ss} {date ddmmyy} {date yyyy-mm-dd} {time hh:mm:ss}\"\n"));
  clock.setTimeOfDay(1000, 951782400000 + 45296780);  // 2000-02-29 12:34:56.780 UTC
  clock.open(0);
  EXPECT_EQ(AnswerAt(clock, "T\r", 1000, 1000), "123456.78 290200 2000-02-29 12:34:56\r\n");
  EXPECT_EQ(AnswerAt(clock, "T\r", 1000 + 41103220, 1000 + 41103220), "000000.00 010300 2000-03-01 00:00:00\r\n");
}

// Checksums over what the answer sent before them, and numbers from a
// binary request written as bytes.
TEST(Device, ChecksumsAndBinaryFieldsAreComputed) {
  const std::string sentence = Answers("on \"Q\" send \"$GPXTE,A,A,0.67,L,N*{nmea}\"\n", {"Q\r"})[0];
  EXPECT_TRUE(wlcodes::SentenceChecks(sentence)) << sentence;
  EXPECT_EQ(sentence, "$GPXTE,A,A,0.67,L,N*6F\r\n");
  const std::string two = Answers("answers end none\non \"Q\" send \"$A*{nmea}\\r\\n\" wait 1 \"!B,1*{nmea}\"\n",
                                  {"Q\r"})[0];
  EXPECT_EQ(two, "$A*41\r\n!B,1*" + wlcodes::HexByte(wlcodes::NmeaChecksum("!B,1*")));

  const std::string frame = Answers("answers end none\non \"Q\" send \"\\x01\\x03\" \"\\x02\\x00\\xE7{crc16}\"\n",
                                    {"Q\r"})[0];
  EXPECT_EQ(frame, std::string("\x01\x03\x02\x00\xE7\xF8\x0E", 7));  // over both pieces, low byte first
  EXPECT_EQ(Answers("answers end none\non \"Q\" send \":\" \"0103{lrc from 1 hex}\"\n", {"Q\r"})[0],
            ":0103" + wlcodes::HexByte(wlcodes::Lrc("0103")));
  EXPECT_EQ(Answers("answers end none\non \"Q\" send \"ab{sum8}{xor8}{crc16 hex}\"\n", {"Q\r"})[0],
            std::string("ab\xC3\xC0") + [] {  // each over all before it, the sum's byte included
              const std::string crc = wlcodes::ChecksumBytes(wlcodes::Checksum::Crc16Modbus, std::string("ab\xC3\xC0"));
              return wlcodes::HexByte(crc[0]) + wlcodes::HexByte(crc[1]);
            }());
  EXPECT_EQ(Answers("requests end none\nanswers end none\nmatch \"R(..)(..)\" "
                    "send \"{u8 #1}{u16 #1le}{u16le #2+1}{u32 #2}{#1 %d}\"\n",
                    {std::string("R\x01\x02\x03\x04")})[0],
            std::string("\x02\x02\x01\x05\x03\x00\x00\x03\x04", 9) + "258");
}

// Requests framed by silence (Modbus RTU): a frame ends 3.5 characters'
// time after its last byte (at least 2 ms); one whose checksum is wrong
// is not heard, and . in a pattern takes every byte.
TEST(Device, RequestsFramedBySilenceAndChecked) {
  Device device(Parsed("requests end gap\nrequests check crc16\nanswers end none\n"
                       "match \"\\x01(.)\" send \"<$1>\"\n"));
  device.setByteTime(nbport::ByteMicroseconds(1200, 8, 0, 0));  // 8.3 ms: the gap 29.2 ms
  device.open(0);
  const std::string request = std::string("\x01\n") + wlcodes::ChecksumBytes(wlcodes::Checksum::Crc16Modbus, "\x01\n");
  device.hear(request.substr(0, 2), 0);
  device.hear(request.substr(2), 20);  // a pause shorter than the gap: the same frame
  EXPECT_EQ(device.nextOutput(), 50u);
  device.advance(49);
  EXPECT_EQ(device.waiting(), 0u);
  device.advance(74);
  EXPECT_EQ(device.take(10), "<\n");  // answered at 50, at the line's rate
  EXPECT_EQ(device.nextOutput(), 76u);  // 50 ms and three bytes of 8,334 us
  device.advance(76);
  EXPECT_EQ(device.take(10), ">");
  std::string bad = request;
  bad[2] ^= 1;
  device.hear(bad, 100);
  device.advance(1000);
  EXPECT_EQ(device.waiting(), 0u);
  device.hear(request, 1000);
  device.hear(request, 1040);  // after a gap: two frames
  device.advance(1100);
  EXPECT_EQ(device.take(10), "<\n><\n>");

  Device server(Parsed("requests end gap\nanswers end none\non \"AB\" send \"ok\"\n"));  // no rate: 2 ms
  server.open(0);
  server.hear("A", 0);
  server.hear("B", 1);
  server.advance(3);
  EXPECT_EQ(server.take(10), "ok");

  Device nmea(Parsed("requests check nmea\nmatch \"\\\\$PX,(.*)\" send \"[$1]\"\n"));
  nmea.open(0);
  EXPECT_EQ(AnswerAt(nmea, "$PX,1*" + wlcodes::HexByte(wlcodes::NmeaChecksum("$PX,1*")) + "\r\n$PX,2*00\r\n", 0, 0),
            "[1]\r\n");
}

// A table's entries are read and written from the request; an answer that
// reads outside the table is not made, and the next line that names the
// request answers.
TEST(Device, TablesAnswerInsideAndTheNextLineOutside) {
  const std::vector<std::string> answers = Answers(
      "table \"t\" 5..7 = 10 20 30\n"
      "match \"R(\\\\d) (\\\\d)\" send \"{u8 t $1 $2}\"\n"
      "match \"R.*\" send \"outside\"\n"
      "match \"W(\\\\d)=(\\\\d+)\" set \"t\" \"{$1}\" \"{$2}\" send \"ok\"\n"
      "match \"W.*\" send \"cannot\"\n",
      {"R5 3\r", "R6 2\r", "R6 3\r", "W9=1\r", "W7=65\r", "R7 1\r"});
  EXPECT_EQ(answers, (std::vector<std::string>{"\x0A\x14\x1E\r\n", "\x14\x1E\r\n", "outside\r\n", "cannot\r\n",
                                               "ok\r\n", "A\r\n"}));
}

TEST(DeviceFromLog, BracesInAnswersStayBraces) {
  const std::string made = FromLog(
      "      0.0 COM1   open \"COM1\": ok\n"
      "      1.0 COM1   >     3 \"J\\r\\n\"\n"
      "      5.0 COM1   <    15 \"{\\\"t\\\":{x}}{{\\r\\n\"  (came after 2.0)\n");
  EXPECT_NE(made.find("{{"), std::string::npos) << made;
  Device device(Parsed(made));
  device.open(0);
  EXPECT_EQ(AnswerAt(device, "J\r\n", 0, 100), "{\"t\":{x}}{{\r\n") << made;
}
