// The real Wirecodes.nbp in the test host beside Wirelet, as NeoBook loads
// them: its catalogue, each action's result then [wcErr] (the result
// empty on a mistake, passed as a null value), and that nothing makes it
// look like a comm plug-in to Wirebench.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/nbhost.h"
#include "support/paths.h"
#include "wire/comm_modules.h"

namespace {

nbhost::PlugIn* Load(nbhost::Host& host, const char* file) {
  std::string error;
  nbhost::PlugIn* plugIn = host.load(wltest::OutputFile(file), &error);
  EXPECT_NE(plugIn, nullptr) << error;
  return plugIn;
}

TEST(WirecodesPlugIn, OneCategoryAndTwelveActions) {
  nbhost::Host host;
  nbhost::PlugIn* codes = Load(host, "Wirecodes.nbp");
  ASSERT_NE(codes, nullptr);
  EXPECT_EQ(host.plugIns()[0].title, "Wirecodes V1.0.0.0 PlugIn");
  const std::vector<nbhost::Registration>& entries = codes->registrations();
  ASSERT_EQ(entries.size(), 13u);
  EXPECT_EQ(entries[0].number, 0);
  EXPECT_EQ(entries[0].name, "Wirecodes");
  EXPECT_TRUE(entries[0].hintNull);
  for (size_t k = 1; k < entries.size(); ++k) {
    EXPECT_EQ(entries[k].number, static_cast<int32_t>(k));
    EXPECT_EQ(entries[k].name.rfind("wc", 0), 0u) << entries[k].name;
    EXPECT_EQ(entries[k].hint.rfind(entries[k].name + " '", 0), 0u) << entries[k].hint;
    EXPECT_EQ(entries[k].count, 1u);
    EXPECT_EQ(codes->edit(static_cast<int32_t>(k)), 1);
  }
  EXPECT_EQ(codes->edit(13), 0);
  EXPECT_EQ(codes->exec(13, "v,1"), 0);
}

TEST(WirecodesPlugIn, EachActionSetsItsResultThenWcErr) {
  nbhost::Host host;
  ASSERT_NE(Load(host, "Wirelet.nbp"), nullptr);
  nbhost::PlugIn* codes = Load(host, "Wirecodes.nbp");
  ASSERT_NE(codes, nullptr);
  codes->clearLog();
  EXPECT_EQ(host.exec("wcNumbersToCodes", "request,U8 U8 U16 U16 CRC16,1,3,0,2"), 1);
  EXPECT_EQ(host.variable("request"), "&H01,&H03,&H00,&H00,&H00,&H02,&HC4,&H0B");
  EXPECT_EQ(host.variable("wcErr"), " 0");
  EXPECT_EQ(host.exec("wcCheckText", "ok,NMEA|$GPRMC,123519.00,V,,,,,,,230394,,*1D"), 1);
  EXPECT_EQ(host.variable("ok"), "1");
  EXPECT_EQ(host.exec("wcCodesToNumbers", "registers,U8 U8 U8 U16 CRC16,0," + host.variable("request")), 1);
  EXPECT_EQ(host.variable("wcErr"), " 7");
  // The first call's variables, in order: the result, then the status.
  const std::vector<nbhost::VariableSet>& log = codes->variableLog();
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(log[0].name, "request");
  EXPECT_EQ(log[1].name, "wcErr");
  // A mistake: the result goes empty, as a null value, and the number says which.
  EXPECT_EQ(log[4].name, "registers");
  EXPECT_TRUE(log[4].valueNull);
  EXPECT_EQ(host.exec("wcCodesToText", "text,72,0,105"), 1);  // a 0 byte would cut the text
  EXPECT_EQ(host.variable("text"), "");
  EXPECT_EQ(host.variable("wcErr"), " 8");
  EXPECT_EQ(host.exec("wcCode", "c|\xFF"), 1);
  EXPECT_EQ(host.variable("c"), "255");
  EXPECT_EQ(host.exec("wcBits", "v,SHL,1"), 1);
  EXPECT_EQ(host.variable("wcErr"), " 1");
  // A long text whole: a megabyte in, five out.
  EXPECT_EQ(host.exec("wcTextToCodes", "codes|" + std::string(1 << 20, 'A')), 1);
  EXPECT_EQ(host.variable("codes").size(), 5u * (1 << 20) - 1);
  EXPECT_EQ(host.variable("wcErr"), " 0");
}

// The longest text the frame takes, 16 MiB, makes 80 MiB of codes: they
// reach the host, or, where memory is short, the variable goes empty with
// 13. Nothing else: no crash, no text cut short.
TEST(WirecodesPlugIn, TheLongestTextGivesItsCodesOrSaysMemoryIsShort) {
  nbhost::Host host;
  ASSERT_NE(Load(host, "Wirecodes.nbp"), nullptr);
  const size_t longest = 16u << 20;
  std::string parameters = "codes|" + std::string(longest - 6, '\xFF');
  EXPECT_EQ(host.exec("wcTextToCodes", parameters), 1);
  parameters.clear();
  const std::string err = host.variable("wcErr");
  ASSERT_TRUE(err == " 0" || err == " 13") << err;
  EXPECT_EQ(host.variable("codes").size(), err == " 0" ? 5 * (longest - 6) - 1 : 0u);
}

// Wirebench serves the plug-ins that import serial or socket calls:
// Wirecodes imports neither, so it never stands in front of its imports.
TEST(WirecodesPlugIn, IsNoCommPlugIn) {
  nbhost::Host host;
  nbhost::PlugIn* comm = Load(host, "Wirelet.nbp");
  nbhost::PlugIn* codes = Load(host, "Wirecodes.nbp");
  ASSERT_NE(comm, nullptr);
  ASSERT_NE(codes, nullptr);
  EXPECT_TRUE(nbwire::IsCommPlugIn(comm->module()));
  EXPECT_FALSE(nbwire::IsCommPlugIn(codes->module()));
  const std::vector<HMODULE> found = nbwire::LoadedCommPlugIns(nullptr);
  EXPECT_EQ(std::count(found.begin(), found.end(), codes->module()), 0);
  EXPECT_EQ(std::count(found.begin(), found.end(), comm->module()), 1);
}

}  // namespace
