// The host bridge of the plug-in frame: texts handed to the callbacks, and the
// blocks put into host-owned string slots.
#include <gtest/gtest.h>

#include <vector>

#include "plugin/bridge.h"
#include "plugin/host_memory.h"

namespace {

struct Seen {
  bool nameNull, valueNull;
  std::string name, value;
};
std::vector<Seen> seen;

int32_t __stdcall SetVariableStd(const char* name, const char* value) {
  seen.push_back({name == nullptr, value == nullptr, name ? name : "", value ? value : ""});
  return 0;
}
int32_t __cdecl SetVariableCdecl(const char* name, const char* value) {
  return SetVariableStd(name, value);
}

struct Registered {
  int32_t number;
  bool hintNull;
  uint32_t count, countAgain;
};
std::vector<Registered> registered;
int32_t __cdecl AddActionCdecl(int32_t n, const char*, const char* hint, const char*, uint32_t c,
                               uint32_t c2) {
  registered.push_back({n, hint == nullptr, c, c2});
  return 0;
}

// Memory calls recorded; GlobalAlloc can be told to fail.
class RecordedMemory : public wl::HostMemory {
 public:
  std::vector<std::pair<UINT, SIZE_T>> allocs;
  std::vector<HGLOBAL> frees;
  bool failAlloc = false;
  HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) override {
    allocs.emplace_back(flags, bytes);
    return failAlloc ? nullptr : ::GlobalAlloc(flags, bytes);
  }
  HGLOBAL GlobalFree(HGLOBAL block) override {
    frees.push_back(block);
    return ::GlobalFree(block);
  }
};

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    registered.clear();
    wl::UseMemory(&memory);
  }
  void TearDown() override {
    wl::UseMemory(nullptr);
    wl::SetHostLink(nullptr, nullptr);
  }
  RecordedMemory memory;
};

}  // namespace

TEST_F(Bridge, EmptyValueGoesAsNullAndTextsAsCopies) {
  for (const void* callback : {reinterpret_cast<const void*>(&SetVariableStd),
                               reinterpret_cast<const void*>(&SetVariableCdecl)}) {
    seen.clear();
    wl::SetHostLink(nullptr, callback);
    wl::SetHostVariable("wlCommErr", " 0");
    wl::SetHostVariable("v", "");
    wl::SetHostVariable("[Bracketed] ", std::string("ab\0cd", 5));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].name, "wlCommErr");
    EXPECT_EQ(seen[0].value, " 0");
    EXPECT_FALSE(seen[0].valueNull);
    EXPECT_TRUE(seen[1].valueNull);
    EXPECT_EQ(seen[2].name, "[Bracketed] ");  // passed exactly as given
    EXPECT_EQ(seen[2].value, "ab");             // the host reads up to the NUL
  }
}

TEST_F(Bridge, NoCallbackNoReport) {
  wl::SetHostLink(nullptr, nullptr);
  wl::SetHostVariable("a", "b");  // must not crash
  EXPECT_TRUE(seen.empty());
}

TEST_F(Bridge, RegisterActionPassesTheCountTwiceAndNullForEmptyHints) {
  wl::SetHostLink(reinterpret_cast<const void*>(&AddActionCdecl), nullptr);
  wl::RegisterAction(0, "Group", nullptr, "ACTIONPARAM_ALPHA", 0);
  wl::RegisterAction(5, "x", "", "ACTIONPARAM_ALPHA", 1);
  wl::RegisterAction(6, "y", "hint", "ACTIONPARAM_ALPHA", 255);
  ASSERT_EQ(registered.size(), 3u);
  EXPECT_TRUE(registered[0].hintNull);
  EXPECT_TRUE(registered[1].hintNull);
  EXPECT_FALSE(registered[2].hintNull);
  EXPECT_EQ(registered[2].count, 255u);
  EXPECT_EQ(registered[2].countAgain, 255u);
}

TEST_F(Bridge, PutHostStringReleasesTheOldBlockAndAllocatesLengthPlusOne) {
  char* slot = static_cast<char*>(GlobalAlloc(GPTR, 4));
  HGLOBAL old = reinterpret_cast<HGLOBAL>(slot);
  wl::PutHostString(&slot, "Communications Plugin for NeoBook.");
  ASSERT_EQ(memory.frees.size(), 1u);
  EXPECT_EQ(memory.frees[0], old);
  ASSERT_EQ(memory.allocs.size(), 1u);
  EXPECT_EQ(memory.allocs[0].first, static_cast<UINT>(GPTR));
  EXPECT_EQ(memory.allocs[0].second, 35u);
  EXPECT_STREQ(slot, "Communications Plugin for NeoBook.");
  wl::FreeHostString(&slot);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(memory.frees.size(), 2u);
}

TEST_F(Bridge, EmptyTextAndFailedAllocationLeaveTheSlotNull) {
  char* slot = nullptr;
  wl::PutHostString(&slot, "");
  EXPECT_EQ(slot, nullptr);
  EXPECT_TRUE(memory.frees.empty());  // a null slot is not released
  memory.failAlloc = true;
  wl::PutHostString(&slot, "text");
  EXPECT_EQ(slot, nullptr);
}
