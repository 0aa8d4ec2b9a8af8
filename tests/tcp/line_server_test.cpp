// The TCP actions against a line server nobody here wrote: memcached on
// 127.0.0.1, started by the test run (line_server.sh), speaking CR LF lines.
// Both editions hold the same TCP actions under their own numbers.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>

#include "host/nbhost.h"
#include "support/paths.h"

namespace {

int ServerPort() {
  std::ifstream in(std::string("Z:") + WL_LINE_SERVER_DIR + "/port");
  int port = 0;
  in >> port;
  return port;
}

class LineServer : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.load(wltest::OutputFile(GetParam()), &error)) << error;
    host.registerPlugIn();
    port = ServerPort();
    ASSERT_GT(port, 0) << "no line server: see line_server.sh";
  }
  void TearDown() override { host.exec("wlTCPclose", ""); }
  std::string run(const std::string& action, const std::string& parameter) {
    host.variables().clear();
    EXPECT_EQ(host.exec(action, parameter), 1);
    return host.variable("wlTcpErr");
  }
  std::string line() {
    EXPECT_EQ(run("wlTCPrxline", "reply"), " 0");
    return host.variable("reply");
  }
  nbhost::PlugIn host;
  int port = 0;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Editions, LineServer, ::testing::Values("Wirelet.nbp", "Quillport.nbp"));

TEST_P(LineServer, StoresAndReadsBackAValueByLines) {
  const std::string key = std::string("key") + GetParam()[0] + std::to_string(GetCurrentProcessId());
  ASSERT_EQ(run("wlTCPopen", "localhost," + std::to_string(port) + ",3000"), " 0");
  EXPECT_EQ(run("wlTCPsendCRLF", "set " + key + " 0 0 14"), " 0");
  EXPECT_EQ(run("wlTCPsendCRLF", "hello, \"world\""), " 0");
  EXPECT_EQ(line(), "STORED");
  EXPECT_EQ(run("wlTCPsendCRLF", "get " + key), " 0");
  EXPECT_EQ(line(), "VALUE " + key + " 0 14");
  EXPECT_EQ(line(), "hello, \"world\"");
  EXPECT_EQ(line(), "END");
  EXPECT_EQ(host.variable("wlTcpEof"), "-1");

  const std::string file = wltest::ScratchDir("LineServer") + "/" + key + ".txt";
  EXPECT_EQ(run("wlTCPsendCRLF", "get " + key), " 0");
  EXPECT_EQ(run("wlTCPrxF", file), " 0");
  EXPECT_EQ(host.variable("wlTcpEof"), "-1");
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            "VALUE " + key + " 0 14\r\nhello, \"world\"\r\nEND\r\n");

  EXPECT_EQ(run("wlTCPsendCRLF", "version"), " 0");
  EXPECT_EQ(line().rfind("VERSION ", 0), 0u);
  EXPECT_EQ(run("wlTCPsendCRLF", "quit"), " 0");
  EXPECT_EQ(run("wlTCPrxline", "reply"), " 0");
  EXPECT_EQ(host.variable("wlTcpEof"), "-1");  // the server closed
  EXPECT_EQ(run("wlTCPclose", ""), " 0");
}
