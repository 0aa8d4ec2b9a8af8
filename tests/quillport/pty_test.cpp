// Quillport.nbp end to end on a pty pair: the read time-outs its open
// installs, and its line rule, with the test program as the peer.
#include <gtest/gtest.h>

#include "host/nbhost.h"
#include "peer.h"
#include "support/paths.h"

namespace {

using serialtest::Peer;
using serialtest::SecondsSince;

constexpr int kPort = 6;

class QuillportPty : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (host != nullptr) return;
    host = new nbhost::PlugIn;
    std::string error;
    ASSERT_TRUE(host->load(wltest::OutputFile("Quillport.nbp"), &error)) << error;
    host->registerPlugIn();
  }
  void SetUp() override {
    ASSERT_TRUE(peer.isOpen());
    run("wlCommOpen", "6,9600,8,0,0,4096,4096");
    ASSERT_EQ(var("wlOpenCommErr"), " 0");
    opened = host->variableLog();
    run("wlCommXonXoff", "6,0");
    run("wlCommRxFlush", "6");  // what a failed earlier test left
  }
  void TearDown() override { host->exec("wlCommClose", "6"); }

  void run(const std::string& action, const std::string& parameters) {
    host->clearLog();
    host->variables().clear();
    ASSERT_EQ(host->exec(action, parameters), 1) << action;
  }
  std::string var(const std::string& name) const {
    return host->hasVariable(name) ? host->variable(name) : "<unset>";
  }
  bool waitFor(int count) {
    const DWORD start = GetTickCount();
    const std::string want = " " + std::to_string(count);
    do {
      run("wlCommRxCount", "6,n");
      if (var("n") == want) return true;
      Sleep(2);
    } while (SecondsSince(start) < 5);
    return false;
  }
  // Runs wlCommRxLine with time-out t; the seconds it took.
  double line(int t) {
    const DWORD start = GetTickCount();
    run("wlCommRxLine", "6,l," + std::to_string(t));
    return SecondsSince(start);
  }

  Peer peer{kPort};
  std::vector<nbhost::VariableSet> opened;  // what the open in SetUp set
  static nbhost::PlugIn* host;
};
nbhost::PlugIn* QuillportPty::host = nullptr;

using QuillportReadTimeouts = QuillportPty;
using QuillportLines = QuillportPty;

}  // namespace

TEST_F(QuillportReadTimeouts, TheOpenPublishesTheTimeoutsAndOpenStdDoesNot) {
  const std::pair<const char*, const char*> expected[] = {
      {"wlOpenCommErr", " 0"}, {"wlCommErr", " 0"},   {"wlCommRIT", " 500"}, {"wlCommRTTM", " 10"},
      {"wlCommRTTC", " 200"},  {"wlCommWTTM", " 2"}, {"wlCommWTTC", " 500"}};
  ASSERT_EQ(opened.size(), 7u);
  for (size_t i = 0; i < opened.size(); ++i) {
    EXPECT_EQ(opened[i].name, expected[i].first);
    EXPECT_EQ(opened[i].value, expected[i].second);
  }
  run("wlCommClose", "6");
  run("wlCommOpenStd", "6,9600");
  EXPECT_EQ(host->variableLog().size(), 2u);
  EXPECT_FALSE(host->hasVariable("wlCommRIT"));
}

TEST_F(QuillportReadTimeouts, AReadWithNothingArrivingEndsAfterItsTotalTimeout) {
  // 200 + 10 x 5 ms for 5 bytes; 200 + 10 x 150 ms for 150.
  DWORD start = GetTickCount();
  run("wlCommRxS", "6,5,s");
  const double five = SecondsSince(start);
  EXPECT_EQ(var("s"), "");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_GE(five, 0.2);
  EXPECT_LE(five, 8.0);
  start = GetTickCount();
  run("wlCommRxS", "6,150,s");
  EXPECT_GE(SecondsSince(start), 1.4);
  EXPECT_LE(SecondsSince(start), 15.0);
  // What arrives in time is returned.
  ASSERT_TRUE(peer.write("ab"));
  ASSERT_TRUE(waitFor(2));
  run("wlCommRxS", "6,5,s");
  EXPECT_EQ(var("s"), "ab");
}

TEST_F(QuillportLines, CarriageReturnLineFeedEndsTheLineAndTheLineFeedGoesWithIt) {
  ASSERT_TRUE(peer.write("abc\r\n"));
  ASSERT_TRUE(waitFor(5));
  line(100);
  EXPECT_EQ(var("l"), "abc");
  EXPECT_EQ(var("wlCommEof"), "<unset>");
  run("wlCommRxCount", "6,n");
  EXPECT_EQ(var("n"), " 0");
}

TEST_F(QuillportLines, ALineFeedLastEndsTheLineWithoutTheIdleWait) {
  ASSERT_TRUE(peer.write("abc\n"));
  ASSERT_TRUE(waitFor(4));
  EXPECT_LT(line(500), 4.0);  // the idle time-out would be 5 s
  EXPECT_EQ(var("l"), "abc\n");
  EXPECT_EQ(var("wlCommEof"), "<unset>");
}

TEST_F(QuillportLines, TheByteAfterACarriageReturnStartsTheNextLine) {
  ASSERT_TRUE(peer.write("a\rbc"));
  ASSERT_TRUE(waitFor(4));
  line(20);
  EXPECT_EQ(var("l"), "a");
  EXPECT_EQ(var("wlCommEof"), "<unset>");
  line(20);
  EXPECT_EQ(var("l"), "bc");
  EXPECT_EQ(var("wlCommEof"), "1");
}

TEST_F(QuillportLines, ACarriageReturnThenSilenceEndsWithoutTheIdleWait) {
  ASSERT_TRUE(peer.write("xy\r"));
  ASSERT_TRUE(waitFor(3));
  EXPECT_LT(line(500), 4.0);
  EXPECT_EQ(var("l"), "xy");
  EXPECT_EQ(var("wlCommEof"), "<unset>");
}
