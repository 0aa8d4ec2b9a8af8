// What the runner warns of before the plug-ins quietly ignore it, the places
// opens reach, and the results' XML text.
#include <gtest/gtest.h>

#include <sstream>

#include "host/runner/results.h"
#include "host/runner/warnings.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Warnings, NameWhatThePlugInsQuietlyIgnoreAndNothingElse) {
  // Field counts by the plug-ins' own comma rule: a quoted comma is no field.
  for (const auto& fine : std::vector<std::pair<const char*, const char*>>{
           {"wlCommSend", "1,\"a,b\""}, {"wlCommSendSpecial", "1|a,b,c"}, {"wlCommSendASCII", "1,2,3,4,5"},
           {"wlCommOpen", "16,9600,8,0,0,4096,4096"}, {"wlcommclose", "1"}, {"wlTCPopen", "127.0.0.1,7,1024"},
           {"wlTCPsend", "a,b,c"}, {"Print", "x"}, {"wbPlay", "COM1,a,b"}}) {
    EXPECT_EQ(nbrun::QuietlyIgnored(fine.first, fine.second), "") << fine.first << " " << fine.second;
  }
  EXPECT_EQ(nbrun::QuietlyIgnored("wlCommSend", "1,a,b"),
            "wlCommSend takes 2 fields, \"1,a,b\" has 3: the plug-in does nothing and sets no variable");
  EXPECT_TRUE(Has(nbrun::QuietlyIgnored("wlCommSendASCII", "1"), "takes 2 or more fields, \"1\" has 1"));
  EXPECT_TRUE(Has(nbrun::QuietlyIgnored("wlCommSendSpecial", "1"), "2 fields separated by \"|\""));
  EXPECT_TRUE(Has(nbrun::QuietlyIgnored("wlCommFlowReset", "1,2"), "takes 1 field, \"1,2\" has 2"));
  // The port as the plug-in reads it: rounded, in any of its number forms.
  for (const char* port : {"0,x", "-1,x", "0.4,x", "&H10000,x", "1E6,x", "COM1,x"}) {
    EXPECT_TRUE(Has(nbrun::QuietlyIgnored("wlCommRxCount", port), " is outside 1 to ")) << port;
  }
  EXPECT_EQ(nbrun::QuietlyIgnored("wlCommRxCount", "15.5,x"), "");  // 16, ties to even
  EXPECT_TRUE(Has(nbrun::QuietlyIgnored("wlCommClose", "\"3\""), "port 0"));  // read from the whole text
  for (const char* timeout : {"127.0.0.1,7,0", "127.0.0.1,7,-5", "host,7,none"}) {
    EXPECT_TRUE(Has(nbrun::QuietlyIgnored("wlTCPopen", timeout), "waits without end")) << timeout;
  }
}

TEST(Warnings, OpensReachThePlacesTheDevicesArePlayedOn) {
  EXPECT_EQ(nbrun::OpenedPlace("wlCommOpenStd", "3,9600"), "COM3");
  EXPECT_EQ(nbrun::OpenedPlace("WLCOMMOPEN", "12,9600,8,0,0,4096,4096"), "COM12");
  EXPECT_EQ(nbrun::OpenedPlace("wlCommOpenStd", "03,9600"), "");  // opens a file named COM03
  EXPECT_EQ(nbrun::OpenedPlace("wlCommOpenStd", "3"), "");        // does nothing
  EXPECT_EQ(nbrun::OpenedPlace("wlCommOpenStd", "0,9600"), "");
  EXPECT_EQ(nbrun::OpenedPlace("wlTCPopen", "127.0.0.7,7000"), "");
  EXPECT_EQ(nbrun::OpenedPlace("wlTCPopen", "127.0.0.7,7000,0"), "127.0.0.7:7000");
  EXPECT_EQ(nbrun::OpenedPlace("wlCommSend", "3,x"), "");
  EXPECT_TRUE(nbrun::SamePlace("\\\\.\\com3", "COM3"));
  EXPECT_TRUE(nbrun::SamePlace("Scale.local:7000", "scale.LOCAL:7000"));
  EXPECT_FALSE(nbrun::SamePlace("127.0.0.7:7000", "127.0.0.7:7001"));
  EXPECT_FALSE(nbrun::SamePlace("COM3", "COM4"));
}

nbrun::Program Loaded(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  nbrun::Program program;
  std::string error;
  EXPECT_TRUE(nbrun::Load(lines, "t.nbs", 1, program, error)) << error;
  return program;
}

TEST(Warnings, ACheckReadsTheLinesWithWhatSetGivesAndPassesOverTheRest) {
  const nbrun::Preset preset = [](const std::string& name, std::string& value) {
    value = "2";
    return name == "port";
  };
  const nbrun::Program program = Loaded(
      "wlCommOpenStd \"[port],9600\"\n"
      "wlCommSend \"[port],a,b\"\n"
      "wlCommSend \"[unknown],a,b\"\n"
      "wlCommSend \"[port],[#44]\"\n"  // a comma as a byte code still splits
      "wlTCPopen \"127.0.0.7,7000,1024\"\n");
  std::vector<std::string> warnings =
      nbrun::ProgramWarnings(program, preset, {"COM2", "com3", "127.0.0.7:7000", "127.0.0.7:7001"});
  ASSERT_EQ(warnings.size(), 4u) << ::testing::PrintToString(warnings);
  EXPECT_TRUE(Has(warnings[0], "t.nbs:2: wlCommSend takes 2 fields, \"2,a,b\" has 3")) << warnings[0];
  EXPECT_TRUE(Has(warnings[1], "t.nbs:4: wlCommSend takes 2 fields")) << warnings[1];
  EXPECT_EQ(warnings[2], "--device com3: no line of the script opens com3, so the device plays for no one");
  EXPECT_TRUE(Has(warnings[3], "--device 127.0.0.7:7001: no line")) << warnings[3];
  // An open whose port only the run knows may reach any port, not a server.
  warnings = nbrun::ProgramWarnings(Loaded("wlCommOpenStd \"[p],9600\"\n"), preset, {"COM9", "127.0.0.7:1"});
  EXPECT_EQ(warnings, std::vector<std::string>{nbrun::NeverOpened("127.0.0.7:1", false)});
}

TEST(Results, XmlTextKeepsEveryByteReadable) {
  EXPECT_EQ(nbrun::XmlText("a<b>&\"c\""), "a&lt;b&gt;&amp;&quot;c&quot;");
  EXPECT_EQ(nbrun::XmlText(std::string("\r\n\t\x01\0", 5)), "\\x0D&#10;&#9;\\x01\\x00");
  EXPECT_EQ(nbrun::XmlText("caf\xC3\xA9"), "caf\xC3\xA9");      // UTF-8 kept
  EXPECT_EQ(nbrun::XmlText("caf\xE9 \xC3"), "caf&#233; &#195;");  // ANSI: its Latin-1 character
}

TEST(Results, CasesAreNamedByTheirLineAndPassAndCounted) {
  nbrun::Results results("C:\\pub\\poll.nbs");
  results.expectation("C:\\pub\\poll.nbs:3", 0, true, "expected a to read \"a\": it does", 0.5);
  results.expectation("C:\\pub\\poll.nbs:9", 2, false, "expected [w] to read \"1\", it reads \"2\"", 2.0);
  results.warning("C:\\pub\\poll.nbs:4: port 17 is outside 1 to 16");
  results.end(nbrun::Outcome::OutOfTime, "C:\\pub\\poll.nbs:12: stopped", 3.25);
  const std::string xml = results.xml();
  for (const char* part :
       {"<testsuite name=\"poll.nbs\" tests=\"3\" failures=\"1\" errors=\"1\" skipped=\"0\" time=\"3.250\">",
        "<testcase name=\"poll.nbs:3\" classname=\"poll\" time=\"0.500\">",
        "<testcase name=\"poll.nbs:9 pass 2\" classname=\"poll\" time=\"1.500\">",
        "<failure message=\"expected [w] to read &quot;1&quot;, it reads &quot;2&quot;\"",
        "<testcase name=\"the run's end\" classname=\"poll\" time=\"1.250\">",
        "<error message=\"C:\\pub\\poll.nbs:12: stopped\" type=\"max-seconds\">",
        "<system-err>warning: C:\\pub\\poll.nbs:4: port 17"}) {
    EXPECT_TRUE(Has(xml, part)) << part << "\n" << xml;
  }
  // A run that went to its end, or stopped at its Expect, adds no case.
  nbrun::Results done("");
  done.end(nbrun::Outcome::ExpectFailed, "line 1: expected", 1);
  EXPECT_TRUE(Has(done.xml(), "<testsuite name=\"prompt\" tests=\"0\" failures=\"0\" errors=\"0\"")) << done.xml();
}

}  // namespace
