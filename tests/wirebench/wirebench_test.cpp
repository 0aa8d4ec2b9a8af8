// Wirebench in the test host beside the comm plug-ins, as an author uses it
// in NeoBook: wbPlay plays a scale on a port and a line service as a TCP
// server, wbSpy records the dialogue, wbSpyToDevice makes devices from the
// record. Ports played are ones the rig maps to nothing, and the server's
// address is a loopback one nothing listens on: a call that missed the
// played device fails instead of reaching anything.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/nbhost.h"
#include "support/paths.h"
#include "wire/spy_log.h"
#include "wire/spy_view.h"

namespace {

const char kScale[] =
    "on \"ID\" send \"WL-SCALE,1.0\"\n"
    "on \"W\" send wait 15 \"ST,GS,+0012.34 kg\"\n";

const char kLines[] =
    "at 0 send \"READY\"\n"
    "match \"ECHO (.*)\" send \"$1\"\n"
    "on \"QUIT\" send \"BYE\" close\n";

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string Scratch(const std::string& name, const std::string& text = std::string()) {
  const std::string path = wltest::ScratchDir("wirebench") + "\\" + name;
  if (!text.empty()) std::ofstream(path, std::ios::binary) << text;
  return path;
}

// What the spy's log shows going each way at `where`, all bytes in order,
// and its event lines.
struct Record {
  std::string sent, received;
  std::vector<std::string> events;
};
Record RecordOf(const std::string& log, const std::string& where) {
  Record record;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    nbspy::LogRecord r;
    if (!nbspy::ParseLogLine(line, r) || r.where != where) continue;
    if (r.direction == '>') record.sent += r.bytes;
    if (r.direction == '<') record.received += r.bytes;
    if (r.direction == ' ' || r.bytes.empty()) record.events.push_back(r.text);
  }
  return record;
}

bool Has(const std::vector<std::string>& events, const std::string& text) {
  for (const std::string& e : events) {
    if (e.find(text) != std::string::npos) return true;
  }
  return false;
}

// Every import slot of a module, in table order.
std::vector<void*> ImportSlots(HMODULE module) {
  std::vector<void*> slots;
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
    for (auto* slot = reinterpret_cast<void**>(base + d->FirstThunk); *slot; ++slot) slots.push_back(*slot);
  }
  return slots;
}

// A host with Wirebench and comm plug-ins loaded, as NeoBook loads them.
class Bench {
 public:
  nbhost::PlugIn& load(const std::string& file) {
    std::string error;
    nbhost::PlugIn* plugIn = host.load(file.find('\\') == std::string::npos ? wltest::OutputFile(file) : file,
                                       &error);
    if (plugIn == nullptr) ADD_FAILURE() << error;
    return *plugIn;
  }
  // Runs an action by name on the plug-in that has it.
  void run(const std::string& action, const std::string& parameters) {
    host.variables().values.clear();
    EXPECT_EQ(host.exec(action, parameters), 1) << action << " " << parameters;
  }
  // A Wirebench action, which must succeed.
  void bench(const std::string& action, const std::string& parameters) {
    run(action, parameters);
    EXPECT_EQ(var("wbErr"), " 0") << action << " " << parameters << ": " << var("wbErrText");
    EXPECT_EQ(var("wbErrText"), "");
  }
  std::string var(const std::string& name) { return host.variable(name); }

  nbhost::Host host;
};

// The scale on port `port` through the comm plug-in `on`: who it is and a
// reading.
void AskTheScale(Bench& b, nbhost::PlugIn& on, const std::string& port) {
  const auto run = [&](const std::string& action, const std::string& parameters) {
    b.host.variables().values.clear();
    EXPECT_EQ(on.exec(action, parameters), 1) << action;
  };
  run("wlCommOpenStd", port + ",9600");
  EXPECT_EQ(b.var("wlOpenCommErr"), " 0") << port;
  run("wlCommSendCRLF", port + ",ID");
  run("wlCommRxLine", port + ",id,100");
  EXPECT_EQ(b.var("id"), "WL-SCALE,1.0");
  run("wlCommSendCRLF", port + ",W");
  run("wlCommRxLine", port + ",weight,100");
  EXPECT_EQ(b.var("weight"), "ST,GS,+0012.34 kg");
  run("wlCommClose", port);
  EXPECT_EQ(b.var("wlCommErr"), " 0");
}

// The line service at 127.0.0.7:7077: its greeting, an echo, and its end.
void TalkToTheService(Bench& b, nbhost::PlugIn& on) {
  const auto run = [&](const std::string& action, const std::string& parameters) {
    b.host.variables().values.clear();
    EXPECT_EQ(on.exec(action, parameters), 1) << action;
  };
  run("wlTCPopen", "127.0.0.7,7077,2048");
  EXPECT_EQ(b.var("wlTcpErr"), " 0");
  run("wlTCPrxline", "greeting");
  EXPECT_EQ(b.var("greeting"), "READY");
  run("wlTCPsendCRLF", "ECHO all 256? no, this");
  run("wlTCPrxline", "echo");
  EXPECT_EQ(b.var("echo"), "all 256? no, this");
  run("wlTCPsendCRLF", "QUIT");
  run("wlTCPrxline", "bye");
  EXPECT_EQ(b.var("bye"), "BYE");
  // The server closed: a receive finds the end at once, not a time-out.
  run("wlTCPrxline", "after");
  EXPECT_EQ(b.var("after"), "");
  EXPECT_EQ(b.var("wlTcpEof"), "-1");
  EXPECT_NE(b.var("wlTcpErr"), " 24");
  run("wlTCPclose", "");
  EXPECT_EQ(b.var("wlTcpErr"), " 0");
}

class Wirebench : public ::testing::TestWithParam<const char*> {};

TEST_P(Wirebench, PlaysAPortAndAServerAndTheSpyRecordsEveryByte) {
  Bench b;
  nbhost::PlugIn& comm = b.load(GetParam());
  b.load("Wirebench.nbp");
  const std::string log = Scratch(std::string("dialogue-") + GetParam() + ".log");
  DeleteFileA(log.c_str());
  b.bench("wbSpy", log);
  b.bench("wbPlay", "COM14," + Scratch("scale.dev", kScale));
  b.bench("wbPlay", "127.0.0.7:7077," + Scratch("lines.dev", kLines));
  AskTheScale(b, comm, "14");
  TalkToTheService(b, comm);
  b.bench("wbSpy", "");

  const std::string text = ReadAll(log);
  const Record port = RecordOf(text, "COM14");
  EXPECT_EQ(port.sent, "ID\r\nW\r\n") << text;
  // The LF after the last CR is Quillport's to read, left in the port by Wirelet.
  EXPECT_EQ(port.received.rfind("WL-SCALE,1.0\r\nST,GS,+0012.34 kg\r", 0), 0u) << text;
  EXPECT_TRUE(Has(port.events, "open \"\\\\.\\COM14\": ok")) << text;
  const Record server = RecordOf(text, "TCP");
  EXPECT_EQ(server.sent, "ECHO all 256? no, this\r\nQUIT\r\n") << text;
  EXPECT_EQ(server.received, "READY\r\nall 256? no, this\r\nBYE\r\n") << text;
  EXPECT_TRUE(Has(server.events, "connect 127.0.0.7:7077: ok")) << text;
  EXPECT_TRUE(Has(server.events, "the peer closed the connection")) << text;

  // The log begins with its format; wbSpy "" wrote its page beside it.
  EXPECT_EQ(text.rfind(nbspy::kLogHeader, 0), 0u) << text;
  const std::string page = ReadAll(nbspy::PagePathFor(log));
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(page.find("\"TCP 127.0.0.7:7077\""), std::string::npos);  // a lane of the connection
  // Nothing from elsewhere: no file named, and the page forbids any.
  EXPECT_EQ(page.find(" src="), std::string::npos);
  EXPECT_NE(page.find("default-src 'none'"), std::string::npos);

  // Devices made from the record answer as the originals did, and say who made them.
  b.bench("wbSpyToDevice", log + ",COM14," + Scratch("scale-made.dev"));
  b.bench("wbSpyToDevice", log + ",127.0.0.7:7077," + Scratch("lines-made.dev"));
  EXPECT_NE(ReadAll(Scratch("scale-made.dev")).find("(made by wbSpyToDevice)"), std::string::npos);
  b.bench("wbPlay", "COM14," + Scratch("scale-made.dev"));
  b.bench("wbPlay", "127.0.0.7:7077," + Scratch("lines-made.dev"));
  AskTheScale(b, comm, "14");
  TalkToTheService(b, comm);
  b.bench("wbPlay", "COM14,");
  b.bench("wbPlay", "127.0.0.7:7077,");

  // A second record in the same file adds to it and keeps the one header.
  b.bench("wbSpy", log);
  b.bench("wbPlay", "COM14," + Scratch("scale.dev", kScale));
  AskTheScale(b, comm, "14");
  b.bench("wbSpy", "");
  b.bench("wbPlay", "COM14,");
  const std::string both = ReadAll(log);
  EXPECT_EQ(both.rfind(text, 0), 0u);
  EXPECT_EQ(both.find("# spy log"), both.rfind("# spy log")) << both;
  EXPECT_EQ(RecordOf(both, "COM14").sent, "ID\r\nW\r\nID\r\nW\r\n") << both;
}

INSTANTIATE_TEST_SUITE_P(Editions, Wirebench, ::testing::Values("Wirelet.nbp", "Quillport.nbp"));

// wbPlay's device pulled out on request: the port's calls fail with the
// file's removal code and its name does not open until the device is back
// and the stale handle closed. The spy shows what the port did.
TEST(WirebenchUnplug, APlayedPortPulledOutFailsAsARemovedAdapterDoes) {
  Bench b;
  b.load("Wirelet.nbp");
  b.load("Wirebench.nbp");
  const std::string log = Scratch("unplug.log");
  DeleteFileA(log.c_str());
  b.bench("wbSpy", log);
  b.bench("wbPlay", "COM14," + Scratch("pulled.dev", "on \"ID\" send \"WL\"\n"
                                                      "on \"PULL\" unplug error 1167 then plug in after 300\n"));
  b.run("wlCommOpenStd", "14,9600");
  b.run("wlCommSendCRLF", "14,PULL");
  b.run("wlCommRxLine", "14,gone,1");
  b.run("wlCommClose", "14");
  b.run("wlCommOpenStd", "14,9600");
  Sleep(400);
  b.run("wlCommOpenStd", "14,9600");
  EXPECT_EQ(b.var("wlOpenCommErr"), " 0");
  b.run("wlCommSendCRLF", "14,ID");
  b.run("wlCommRxLine", "14,id,300");
  EXPECT_EQ(b.var("id"), "WL");
  b.run("wlCommClose", "14");
  b.bench("wbSpy", "");
  b.bench("wbPlay", "COM14,");

  const Record port = RecordOf(ReadAll(log), "COM14");
  size_t at = 0;
  for (const char* event : {"failed: error 1167", "open \"\\\\.\\COM14\": error 2,", "open \"\\\\.\\COM14\": ok"}) {
    while (at < port.events.size() && port.events[at].find(event) == std::string::npos) ++at;
    EXPECT_LT(at, port.events.size()) << event << "\n" << ReadAll(log);
  }
  EXPECT_EQ(port.received, "WL\r\n") << ReadAll(log);
}

// Both editions at once, one of them loaded after Wirebench's first action
// and from a file of another name: each is found by what it is, and both
// are played and spied on.
TEST(WirebenchBothEditions, EachCommPlugInIsServedHoweverItIsNamedAndWhenever) {
  Bench b;
  nbhost::PlugIn& wirelet = b.load("Wirelet.nbp");
  b.load("Wirebench.nbp");
  const std::string log = Scratch("both.log");
  DeleteFileA(log.c_str());
  b.bench("wbSpy", log);
  const std::string renamed = Scratch("comms-copy.dll");
  ASSERT_TRUE(CopyFileA(wltest::OutputFile("Quillport.nbp").c_str(), renamed.c_str(), FALSE));
  nbhost::PlugIn& quillport = b.load(renamed);
  b.bench("wbPlay", "COM14," + Scratch("scale.dev", kScale));
  b.bench("wbPlay", "COM16," + Scratch("scale.dev", kScale));
  AskTheScale(b, wirelet, "14");
  AskTheScale(b, quillport, "16");
  b.bench("wbSpy", "");
  b.bench("wbPlay", "COM14,");
  b.bench("wbPlay", "COM16,");
  const std::string text = ReadAll(log);
  EXPECT_EQ(RecordOf(text, "COM14").sent, "ID\r\nW\r\n") << text;
  EXPECT_EQ(RecordOf(text, "COM16").sent, "ID\r\nW\r\n") << text;
}

// What Wirebench puts in front of a comm plug-in's imports goes when the
// spy and the last device end: the table is as the plug-in was loaded with.
// The program and Wirebench itself are never touched.
TEST(WirebenchImports, EndingTheSpyAndTheDevicesPutsEverySlotBack) {
  Bench b;
  nbhost::PlugIn& comm = b.load("Wirelet.nbp");
  nbhost::PlugIn& bench = b.load("Wirebench.nbp");
  const std::vector<void*> loaded = ImportSlots(comm.module());
  const std::vector<void*> program = ImportSlots(GetModuleHandleA(nullptr));
  const std::vector<void*> itself = ImportSlots(bench.module());
  b.bench("wbPlay", "COM9," + Scratch("scale.dev", kScale));
  b.bench("wbSpy", Scratch("imports.log"));
  EXPECT_NE(ImportSlots(comm.module()), loaded);
  AskTheScale(b, comm, "9");
  b.bench("wbPlay", "COM1,");  // a port never played: nothing changes
  EXPECT_NE(ImportSlots(comm.module()), loaded);
  b.bench("wbPlay", "COM9,");
  EXPECT_NE(ImportSlots(comm.module()), loaded);  // the spy is still on
  b.bench("wbSpy", "");
  EXPECT_EQ(ImportSlots(comm.module()), loaded);
  EXPECT_EQ(ImportSlots(GetModuleHandleA(nullptr)), program);
  EXPECT_EQ(ImportSlots(bench.module()), itself);
  // The port is the system's again: COM9 is a folder in the rig, which
  // looks like a port another program holds.
  b.host.variables().values.clear();
  comm.exec("wlCommOpenStd", "9,9600");
  EXPECT_EQ(b.var("wlOpenCommErr"), " 70");
}

// Every name Windows opens the port under reaches the played device; names
// it does not stay files. The port fields are what a script writes.
TEST(WirebenchNames, EveryFieldThatOpensThePortReachesItsDevice) {
  Bench b;
  nbhost::PlugIn& comm = b.load("Wirelet.nbp");
  b.load("Wirebench.nbp");
  // COM9 is a folder in the rig: opening the system's COM9 is refused.
  b.bench("wbPlay", "COM9," + Scratch("scale.dev", kScale));
  for (const char* field : {"9", "9.0", "9:", "\"9 \"", "9.txt", "09"}) {
    b.host.variables().values.clear();
    comm.exec("wlCommOpenStd", std::string(field) + ",9600");
    const bool played = std::string(field) != "09";  // "COM09" is a file name
    EXPECT_EQ(b.var("wlOpenCommErr") == " 0", played) << field << ": " << b.var("wlOpenCommErr");
    comm.exec("wlCommClose", "9");
  }
  b.bench("wbPlay", "COM9,");
}

// Mistakes are numbers with words: the device file's line, the file that
// is missing, a port that is none.
TEST(WirebenchErrors, EachMistakeHasItsNumberAndItsWords) {
  Bench b;
  b.load("Wirelet.nbp");
  b.load("Wirebench.nbp");
  const std::string bad = Scratch("bad.dev", "# a scale\non \"ID\" send \"WL\"\n\non \"W\" reply \"x\"\n");
  b.run("wbPlay", "COM14," + bad);
  EXPECT_EQ(b.var("wbErr"), " 80");
  EXPECT_EQ(b.var("wbErrText"), bad + " line 4: expected send, silent or close, found \"reply\"");
  b.run("wbPlay", "COM14," + Scratch("missing.dev"));
  EXPECT_EQ(b.var("wbErr"), " 53");
  EXPECT_NE(b.var("wbErrText").find("missing.dev: error 2"), std::string::npos) << b.var("wbErrText");
  b.run("wbSpy", Scratch("no-such-folder") + "\\spy.log");
  EXPECT_EQ(b.var("wbErr"), " 76");
  // A name Windows takes for a device: com2.dev would play a real port.
  for (const auto& action : {std::make_pair("wbPlay", "COM14," + Scratch("com2.dev")),
                             std::make_pair("wbSpy", Scratch("NUL.log"))}) {
    b.run(action.first, action.second);
    EXPECT_EQ(b.var("wbErr"), " 75") << action.second;
    EXPECT_NE(b.var("wbErrText").find(": error 123, not a file's name"), std::string::npos)
        << b.var("wbErrText");
  }
  for (const char* wrong : {"LPT1,x.dev", "COM14", "127.0.0.7:99999,x.dev", "COM0,x.dev"}) {
    b.run("wbPlay", wrong);
    EXPECT_EQ(b.var("wbErr"), " 5") << wrong;
    EXPECT_NE(b.var("wbErrText").find("wbPlay takes"), std::string::npos) << wrong;
  }
  b.run("wbSpyToDevice", Scratch("empty.log", "       ms where  what\r\n") + ",COM3," + Scratch("x.dev"));
  EXPECT_EQ(b.var("wbErr"), " 81");
  EXPECT_NE(b.var("wbErrText").find("no exchange with COM3"), std::string::npos) << b.var("wbErrText");
  b.run("wbSpyToDevice", ",COM3,x.dev");
  EXPECT_EQ(b.var("wbErr"), " 64");
}

// The frame as the host sees it: identification, one category of three
// actions, edit answers, unknown numbers and the host's marker form.
TEST(WirebenchFrame, ItIdentifiesAndRegistersAsAPlugInOfItsOwn) {
  Bench b;
  b.load("Wirebench.nbp");
  const nbhost::Host::Loaded& loaded = b.host.plugIns().back();
  EXPECT_EQ(loaded.title, "Wirebench V1.0.0.0 PlugIn");
  EXPECT_EQ(loaded.publisher, "Norvale");
  EXPECT_EQ(loaded.hint, "Played devices and a byte spy for the Wirelet and Quillport plug-ins.");
  nbhost::PlugIn& bench = *loaded.plugIn;
  const std::vector<nbhost::Registration>& r = bench.registrations();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].number, 0);
  EXPECT_EQ(r[0].name, "Wirebench");
  EXPECT_TRUE(r[0].hintNull);
  const char* const names[] = {"wbPlay", "wbSpy", "wbSpyToDevice"};
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(r[k].number, k);
    EXPECT_EQ(r[k].name, names[k - 1]);
    EXPECT_EQ(r[k].hint.rfind(names[k - 1], 0), 0u) << r[k].hint;
    EXPECT_EQ(r[k].parameterTypes, "ACTIONPARAM_ALPHA");
    EXPECT_EQ(r[k].count, 1u);
    EXPECT_EQ(bench.edit(k), 1);
  }
  EXPECT_EQ(bench.edit(0), 0);
  EXPECT_EQ(bench.edit(4), 0);
  b.host.variables().values.clear();
  EXPECT_EQ(bench.exec(4, "COM1,x"), 0);
  EXPECT_EQ(bench.exec(1, "<#COM1,x#>"), 1);
  EXPECT_TRUE(b.host.variables().values.empty());
}

// Texts no author means: nothing crashes or hangs, and each gets a number.
TEST(WirebenchHostile, EveryActionSurvivesEveryShapeOfText) {
  Bench b;
  b.load("Wirelet.nbp");
  b.load("Wirebench.nbp");
  SetCurrentDirectoryA(wltest::ScratchDir("wirebench-hostile").c_str());
  const std::vector<std::string> texts = {
      std::string(16 * 1024 * 1024 - 1, 'A'),
      std::string(1000000, ','),
      std::string("COM14\xFF,\xFE"),
      "COM14,\"unclosed",
      "\"COM14,x",
      "127.0.0.7:,x",
      ":7000,x",
  };
  for (const char* action : {"wbPlay", "wbSpy", "wbSpyToDevice"}) {
    for (const std::string& text : texts) {
      // wbSpy takes its text whole, as a file name: the short ones may well
      // be names of files.
      if (std::string(action) == "wbSpy" && text.size() < 1000) continue;
      b.run(action, text);
      EXPECT_NE(b.var("wbErr"), " 0") << action << " with " << text.substr(0, 40);
      EXPECT_NE(b.var("wbErrText"), "") << action << " with " << text.substr(0, 40);
      EXPECT_LT(b.var("wbErrText").size(), 600u) << action;  // a message, not the text again
    }
  }
}

// Alone, Wirebench says that it has nothing to serve yet.
TEST(WirebenchAlone, WithoutACommPlugInItSaysSo) {
  Bench b;
  b.load("Wirebench.nbp");
  b.run("wbPlay", "COM14," + Scratch("scale.dev", kScale));
  EXPECT_EQ(b.var("wbErr"), " 82");
  EXPECT_NE(b.var("wbErrText").find("no comm plug-in"), std::string::npos);
  b.bench("wbPlay", "COM14,");
}

}  // namespace
