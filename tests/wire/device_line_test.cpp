// The device's line on a clock of the test's own: the faults and modem
// lines its file plays, its answers to the host's DTR and RTS, a restart,
// and the notes that name each of them by their line in the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/device_model.h"

namespace {

using nbdevice::Device;
using nbdevice::DeviceFile;
using nbdevice::LineFault;

DeviceFile Parsed(const std::string& text) {
  const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(text);
  EXPECT_TRUE(parsed.ok) << parsed.error;
  return parsed.device;
}

std::string Error(const std::string& text) { return nbdevice::ParseDeviceFile(text).error; }

uint32_t Bit(LineFault fault) { return 1u << static_cast<unsigned>(fault); }

// The device's notes of what it played on its line (not its seed's).
std::vector<std::string> LineNotes(Device& device) {
  std::vector<std::string> texts;
  for (const nbdevice::DeviceNote& note : device.takeNotes()) {
    if (note.text.rfind("seed ", 0) != 0) texts.push_back(note.text);
  }
  return texts;
}

TEST(DeviceLine, FaultsAndModemLinesFallDueAndAreNoted) {
  Device device(Parsed("at 0 modem cts off\n"
                       "at 3000 modem cts on dcd on ring off\n"
                       "on \"S\" send \"12.3\" fault parity\n"
                       "every 5000 fault framing\n"
                       "on \"B\" send wait 10 fault break wait 5 fault overrun\n"));
  device.open(0);
  device.advance(0);
  EXPECT_EQ(device.modemLines(), nbdevice::kDsrLine);  // CTS dropped, DSR as at first
  EXPECT_EQ(device.nextOutput(), 3000u);               // the line change is a change to wait for
  device.hear("S\r", 100);
  device.advance(100);
  EXPECT_EQ(device.take(100), "12.3\r\n");  // the answer, its ending, then the fault
  EXPECT_EQ(device.takeLineFaults(), Bit(LineFault::Parity));
  EXPECT_EQ(device.takeLineFaults(), 0u);  // reported once
  device.advance(3000);
  EXPECT_EQ(device.modemLines(), nbdevice::kCtsLine | nbdevice::kDsrLine | nbdevice::kDcdLine);
  device.hear("B\r", 4000);
  device.advance(4012);
  EXPECT_EQ(device.lineFaults(), Bit(LineFault::Break));
  device.advance(5000);  // overrun at 4015, framing at 5000: both wait for the next take
  EXPECT_EQ(device.takeLineFaults(), Bit(LineFault::Break) | Bit(LineFault::Overrun) | Bit(LineFault::Framing));
  const std::vector<std::string> notes = LineNotes(device);
  const std::vector<std::string> expected = {"cts off by line 1", "parity error by line 3",
                                             "cts on dcd on ring off by line 2", "break by line 5",
                                             "overrun error by line 5", "framing error by line 4"};
  EXPECT_EQ(notes, expected);
  EXPECT_TRUE(LineNotes(device).empty());
  // An open clears the faults not yet taken; the modem lines are the device's.
  device.hear("S\r", 6000);
  device.advance(6000);
  device.open(7000);
  EXPECT_EQ(device.lineFaults(), 0u);
  EXPECT_EQ(device.modemLines(), nbdevice::kCtsLine | nbdevice::kDsrLine | nbdevice::kDcdLine);
}

// A modem that hangs up when DTR drops, and a board that boots again when
// DTR comes back.
TEST(DeviceLine, TheHostsDtrAndRtsAnswerTheirRules) {
  Device device(Parsed("starts in \"online\"\n"
                       "at 0 send \"BOOT v1\"\n"
                       "in \"online\" on dtr off send \"NO CARRIER\" modem dcd off then \"command\"\n"
                       "on dtr on restart\n"
                       "on rts off send \"RTS OFF\"\n"
                       "at 0 modem dcd on\n"
                       "in \"command\" on \"AT\" send \"OK\"\n"
                       "in \"online\" on \"AT\" send \"BUSY\"\n"));
  device.open(0);
  device.hostLines(true, true, 0);  // the open raises both: a restart at once
  device.advance(0);
  EXPECT_EQ(device.take(100), "BOOT v1\r\n");
  EXPECT_TRUE(device.modemLines() & nbdevice::kDcdLine);
  device.hostLines(false, true, 100);  // DTR drops: the modem hangs up
  device.advance(100);
  EXPECT_EQ(device.take(100), "NO CARRIER\r\n");
  EXPECT_FALSE(device.modemLines() & nbdevice::kDcdLine);
  device.hear("AT\r", 200);
  device.advance(200);
  EXPECT_EQ(device.take(100), "OK\r\n");  // in "command" now
  device.hostLines(false, true, 300);     // no change, no answer
  device.hostLines(false, false, 300);
  device.advance(300);
  EXPECT_EQ(device.take(100), "RTS OFF\r\n");
  device.setByteTime(1000);  // a byte a millisecond
  device.hear("AT\r", 400);
  device.advance(402);
  device.hostLines(true, false, 402);  // back: the restart cuts the answer under way
  device.advance(402);
  EXPECT_EQ(device.take(100), "");  // "OK" is gone with the queue
  device.advance(411);
  EXPECT_EQ(device.take(100), "BOOT v1\r\n");  // its timed output starts again from there
  device.setByteTime(0);
  device.hear("AT\r", 500);
  device.advance(500);
  EXPECT_EQ(device.take(100), "BUSY\r\n");  // its start mode again
  const std::vector<std::string> notes = LineNotes(device);
  EXPECT_EQ(notes.front(), "restart by line 4");
  EXPECT_EQ(std::count(notes.begin(), notes.end(), "dcd off by line 3"), 1);
}

TEST(DeviceLine, MistakesInTheLinesWordsSayWhereAndWhy) {
  EXPECT_EQ(Error("on \"S\" send \"x\" fault sparks\n"),
            "line 1: fault takes parity, framing, overrun or break, not \"sparks\"");
  const std::string modem = "modem takes cts, dsr, dcd or ring, each followed by on or off";
  EXPECT_EQ(Error("\nat 0 modem cts\n"), "line 2: " + modem);
  EXPECT_EQ(Error("at 0 modem\n"), "line 1: " + modem);
  EXPECT_EQ(Error("at 0 modem cts on dtr on\n"), "line 1: expected a text, wait or close, found \"dtr\"");
  EXPECT_EQ(Error("on dtr maybe send \"x\"\n"), "line 1: on dtr takes on or off");
  EXPECT_EQ(Error("on \"K\" send \"x\" reset \"y\"\n"), "line 1: reset ends an answer: nothing may follow it");
  EXPECT_EQ(Error("on rts on restart then \"x\"\n"), "line 1: restart ends an answer: nothing may follow it");
  EXPECT_EQ(Error("on \"A\" send \"a\"\nevery 1000 restart\n"),
            "line 2: restart answers a request or a change of DTR or RTS, not a time");
  EXPECT_EQ(Error("refuse first\n"), "line 1: refuse takes first and a number of connects, 0 to 999999999");
  EXPECT_EQ(Error("window 0\n"),
            "line 1: window takes the bytes that may wait unread in the connection, 1 to 999999999");
  const DeviceFile file = Parsed("refuse first 2\nwindow 4096\non \"DTR\" send \"a quoted request\"\n");
  EXPECT_EQ(file.refuseFirst, 2u);
  EXPECT_EQ(file.window, 4096u);
  EXPECT_EQ(file.rules[0].kind, nbdevice::RequestKind::Exact);  // on "dtr" is a request like any other
  EXPECT_EQ(Parsed("on \"x\" send \"y\"\n").window, nbdevice::kDefaultWindow);
}

}  // namespace
