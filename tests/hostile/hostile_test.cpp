// Hostile parameter texts through the real .nbp: huge texts, a million
// commas, NUL and 0xFF bytes, unclosed quotes, absurd names and every number
// form at its limits, for every action number. Nothing may crash or hang,
// and each case ends with the error its action gives for it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "host/nbhost.h"
#include "support/paths.h"

namespace {

const char kUnset[] = "<unset>";

class Hostile : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.load(wltest::OutputFile(GetParam()), &error)) << error;
    host.registerPlugIn();
    // Files named by the cases land in a scratch folder, never in the tree.
    scratch = wltest::ScratchDir(std::string("hostile-") + GetParam());
    SetCurrentDirectoryA(scratch.c_str());
    for (const nbhost::Registration& r : host.registrations()) {
      if (r.number > 0) actions.push_back(r.name);
    }
  }

  // Runs one action; what the status variable of its family then reads.
  std::string run(const std::string& action, const std::string& text) {
    host.variables().clear();
    EXPECT_EQ(host.exec(action, text), 1) << action;
    const char* status = action.rfind("wlTCP", 0) == 0 ? "wlTcpErr" : "wlCommErr";
    return host.hasVariable(status) ? host.variable(status) : kUnset;
  }

  nbhost::PlugIn host;
  std::string scratch;
  std::vector<std::string> actions;
};

TEST_P(Hostile, EveryActionSurvivesEveryShapeOfText) {
  const std::vector<std::string> texts = {
      std::string(16 * 1024 * 1024 - 1, 'A'),  // the largest text the host can hand over
      std::string(1000000, ','),
      std::string("16,\0abc", 7),
      std::string("16,\xFF\xFE\xFF,x"),
      "16,\"unclosed",
      "\"16,abc",
      "<#16,abc#>",
      "",
  };
  for (const std::string& action : actions) {
    if (action == "wlCommOpen" || action == "wlCommOpenStd" || action == "wlTCPopen") continue;
    for (const std::string& text : texts) {
      const std::string err = run(action, text);
      // Port 16 is never open here and no connection exists: an action that
      // gets past its checks reports 52, 64 or a file error; only closing
      // what is not open succeeds.
      const bool close = action == "wlCommClose" || action == "wlTCPclose";
      if (!close) {
        EXPECT_NE(err, " 0") << action << " with a text of " << text.size() << " bytes";
      }
    }
  }
}

TEST_P(Hostile, OpensRefuseWhatTheyCannotUse) {
  EXPECT_EQ(run("wlCommOpenStd", std::string(1000000, ',')), kUnset);
  EXPECT_EQ(run("wlCommOpenStd", "16" + std::string(300, 'x') + ",9600"), " 52");
  EXPECT_EQ(host.variable("wlOpenCommErr"), " 53");  // no such device, and no file made
  EXPECT_EQ(GetFileAttributesA(("COM16" + std::string(250, 'x')).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(run("wlCommOpenStd", "16*,9600"), " 52");
  EXPECT_EQ(host.variable("wlOpenCommErr"), " 64");
  EXPECT_EQ(run("wlTCPopen", std::string(10000, 'h') + ",80,100"), " 57");
  EXPECT_EQ(run("wlTCPopen", "127.0.0.1,\"80,100"), kUnset);  // two fields
  EXPECT_EQ(run("wlTCPclose", ""), " 0");
}

TEST_P(Hostile, FileNamesAreCheckedBeforeAnythingIsTaken) {
  EXPECT_EQ(run("wlCommRx", "16,a*b,n"), " 64");
  EXPECT_EQ(host.variable("n"), " 0");
  EXPECT_EQ(run("wlCommRxF", "16,a?b,0"), " 64");
  EXPECT_EQ(run("wlCommRx", "16,no\\such\\folder\\f.txt,n"), " 76");
  EXPECT_EQ(run("wlTCPrxF", "what?"), " 64");
  EXPECT_EQ(run("wlTCPrxFT", "no\\such\\folder\\f.txt"), " 76");
  // A name of 300 characters is cut to 255: the file gets the first 255.
  const std::string name(300, 'n');
  EXPECT_EQ(run("wlCommRx", "16," + name + ",n"), " 52");  // made, but the port is not open
  EXPECT_NE(GetFileAttributesA(name.substr(0, 255).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_P(Hostile, NumberFormsAtTheirLimits) {
  // Ports that read outside 1 to 256 end the action without a word.
  for (const char* port : {"0", "257", "-1", "0.5", "16.5E0x", "&H101", "1E99999", "-1E99999",
                           "&HFFFFFFFFFFFFFFFF", "4294967297", "&B", "&", "256.5"}) {
    const std::string text = std::string(port) + ",n";
    const std::string err = run("wlCommRxCount", text);
    // 16.5 and 256.5 round to the even 16 and 256.
    const bool inRange = std::string(port) == "16.5E0x" || std::string(port) == "256.5";
    EXPECT_EQ(err, inRange ? " 52" : kUnset) << port;
  }
  if (host.number("wlCommSendASCII") > 0) {
    for (const char* code : {"-1", "256", "&HFFFFFFFF", "1E99999", "4294967552"}) {
      EXPECT_EQ(run("wlCommSendASCII", std::string("16,") + code), "99") << code;
    }
    // Codes are the low 32 bits of the rounded number: these wrap to 0, a
    // valid code, so the send is attempted (and finds no port).
    for (const char* code : {"-1E99999", "4294967296.5"}) {
      EXPECT_EQ(run("wlCommSendASCII", std::string("16,") + code), " 52") << code;
    }
    EXPECT_EQ(run("wlCommSendASCII", "16,&HFF,255.4,&O377,&B11111111"), " 52");
  }
  EXPECT_EQ(run("wlCommRxS", "16,-2147483648,s"), " 52");
  EXPECT_EQ(host.variable("s"), "");
  EXPECT_EQ(run("wlCommRxLine", "16,l,-4294967295"), " 52");  // time-out 1: returns quickly
}

INSTANTIATE_TEST_SUITE_P(Editions, Hostile, ::testing::Values("Wirelet.nbp", "Quillport.nbp"));

}  // namespace
