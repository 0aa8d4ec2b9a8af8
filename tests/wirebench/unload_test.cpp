// A comm plug-in unloaded by the application (FreeLibrary) with a port still
// open closes it, so the port is not taken until the application exits.
// With Wirebench beside it, unloaded before or after it: the port is a
// played one, which refuses a second open while a handle on it is open, as
// a Windows port does.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "host/nbhost.h"
#include "support/paths.h"

namespace {

const char kScale[] = "on \"ID\" send \"WL-SCALE,1.0\"\n";

class Unload : public ::testing::Test {
 protected:
  nbhost::PlugIn& load(const char* file) {
    std::string error;
    nbhost::PlugIn* plugIn = host.load(wltest::OutputFile(file), &error);
    EXPECT_NE(plugIn, nullptr) << error;
    return *plugIn;
  }
  std::string run(const std::string& action, const std::string& parameters,
                  const char* status) {
    host.variables().values.clear();
    EXPECT_EQ(host.exec(action, parameters), 1) << action;
    return host.variable(status);
  }
  // Plays the scale on a port the rig maps to nothing. Wirebench serves
  // every comm plug-in loaded by then.
  void play(const char* port) {
    const std::string device = wltest::ScratchDir("unload") + "\\scale.dev";
    std::ofstream(device, std::ios::binary) << kScale;
    EXPECT_EQ(run("wbPlay", std::string(port) + "," + device, "wbErr"), " 0");
  }
  // The port answers: it is open and played.
  void expectOpenAndAnswering() {
    EXPECT_EQ(run("wlCommOpenStd", "14,9600", "wlOpenCommErr"), " 0");
    EXPECT_EQ(run("wlCommSendCRLF", "14,ID", "wlCommErr"), " 0");
    EXPECT_EQ(run("wlCommRxLine", "14,id,100", "wlCommErr"), " 0");
    EXPECT_EQ(host.variable("id"), "WL-SCALE,1.0");
  }

  nbhost::Host host;
};

}  // namespace

TEST_F(Unload, TheCommPlugInClosesItsPortsWhicheverGoesFirst) {
  for (const bool benchFirst : {false, true}) {
    SCOPED_TRACE(benchFirst ? "Wirebench unloaded first" : "the comm plug-in unloaded first");
    nbhost::PlugIn& comm = load("Wirelet.nbp");
    nbhost::PlugIn& bench = load("Wirebench.nbp");
    play("COM14");
    expectOpenAndAnswering();
    if (benchFirst) {
      ASSERT_TRUE(host.unload(bench));
    }
    ASSERT_TRUE(host.unload(comm));  // the port is still open
    // Loaded again (and served again: another port played), the port
    // opens: the unload closed the handle, which the played port, as a
    // Windows port, would otherwise keep refusing a second open for.
    load("Wirelet.nbp");
    if (benchFirst) load("Wirebench.nbp");
    play("COM16");
    expectOpenAndAnswering();
    EXPECT_EQ(run("wlCommClose", "14", "wlCommErr"), " 0");
    EXPECT_EQ(run("wbPlay", "COM14,", "wbErr"), " 0");
    EXPECT_EQ(run("wbPlay", "COM16,", "wbErr"), " 0");
    while (!host.plugIns().empty()) host.unload(*host.plugIns().back().plugIn);
  }
}
