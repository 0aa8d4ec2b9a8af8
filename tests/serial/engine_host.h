// For suites that link the engine and one edition's table directly: a host
// that records every variable the actions set and runs actions by name,
// with the recording fake device installed for the length of each test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "plugin/bridge.h"
#include "plugin/catalogue.h"
#include "plugin/dispatch.h"
#include "serial/channel_table.h"
#include "support/fake_device.h"

namespace wltest {

struct EngineHost {
  static std::map<std::string, std::string>& variables() {
    static std::map<std::string, std::string> v;
    return v;
  }
  static std::vector<std::string>& order() {
    static std::vector<std::string> o;
    return o;
  }
  static int32_t __stdcall SetVariable(const char* name, const char* value) {
    const std::string n = name ? name : "";
    variables()[n] = value ? value : "";
    order().push_back(n);
    return 0;
  }
};

// Runs the named action of this edition's table; false when it has none.
inline bool RunAction(const std::string& name, const std::string& parameters) {
  for (const wl::CatalogueEntry& e : wl::ThisEdition()) {
    if (e.handler != nullptr && name == e.name) {
      const char* list[] = {parameters.c_str()};
      return wl::ExecAction(wl::ThisEdition(), e.number, list) == 1;
    }
  }
  return false;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineHost::variables().clear();
    EngineHost::order().clear();
    wl::SetHostLink(nullptr, reinterpret_cast<const void*>(&EngineHost::SetVariable));
    wl::UseSystem(&fake);
  }
  void TearDown() override {
    // Ports left open by a test are closed so the next one starts clean.
    for (int16_t n = 1; n <= 256; ++n) {
      if (wl::Channels().find(n) != nullptr) RunAction("wlCommClose", std::to_string(n));
    }
    EXPECT_TRUE(fake.foreverWaits().empty()) << fake.foreverWaits().front();
    EXPECT_TRUE(fake.unguardedCalls().empty()) << fake.unguardedCalls().front();
    EXPECT_FALSE(fake.budgetExhausted());
    wl::UseSystem(nullptr);
    wl::SetHostLink(nullptr, nullptr);
  }

  // Runs an action with a fresh record of variables.
  void run(const std::string& action, const std::string& parameters) {
    EngineHost::variables().clear();
    EngineHost::order().clear();
    ASSERT_TRUE(RunAction(action, parameters)) << action;
  }
  std::string var(const std::string& name) const {
    auto it = EngineHost::variables().find(name);
    return it == EngineHost::variables().end() ? "<unset>" : it->second;
  }
  const std::vector<std::string>& setOrder() const { return EngineHost::order(); }
  bool nothingSet() const { return EngineHost::order().empty(); }

  FakeDevice fake;
};

}  // namespace wltest
