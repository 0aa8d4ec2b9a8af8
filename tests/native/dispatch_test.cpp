// Dispatch: parameter copy, marker form, known and unknown numbers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "plugin/dispatch.h"

namespace {

std::vector<std::string> seen;
void Record(const std::string& p) { seen.push_back(p); }

const wl::CatalogueEntry kEntries[] = {
    {0, "Group", nullptr, nullptr},
    {1, "one", "hint", Record},
    {7, "seven", "hint", Record},
    {5, "five", "hint", nullptr},
};
const wl::Edition kEdition = {"t", "p", "h", kEntries, 4};

int32_t Exec(int32_t n, const char* text) {
  const char* list[1] = {text};
  return wl::ExecAction(kEdition, n, list);
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override { seen.clear(); }
};

}  // namespace

TEST_F(Dispatch, KnownNumbersRunTheirHandlerWithTheText) {
  EXPECT_EQ(Exec(7, "1,hello"), 1);
  EXPECT_EQ(seen, (std::vector<std::string>{"1,hello"}));
  EXPECT_EQ(Exec(5, "x"), 1);  // known, nothing to run
}

TEST_F(Dispatch, UnknownNumbersReturnZero) {
  EXPECT_EQ(Exec(0, "x"), 0);
  EXPECT_EQ(Exec(-1, "x"), 0);
  EXPECT_EQ(Exec(2, "x"), 0);
  EXPECT_EQ(Exec(INT32_MAX, "x"), 0);
  EXPECT_TRUE(seen.empty());
}

TEST_F(Dispatch, MarkerFormAnswersOneAndRunsNothing) {
  EXPECT_EQ(Exec(7, "<#anything#>"), 1);
  EXPECT_EQ(Exec(7, "<##>"), 1);
  EXPECT_EQ(Exec(7, "<#>"), 1);     // the pairs overlap
  EXPECT_EQ(Exec(99, "<#x#>"), 1);  // the number is not looked at
  EXPECT_TRUE(seen.empty());
}

TEST_F(Dispatch, NearMarkersRunTheHandler) {
  for (const char* text : {"<#", "#>", " <#x#>", "<#x#> ", "<x#>", "<#x>"}) {
    EXPECT_EQ(Exec(1, text), 1) << text;
  }
  EXPECT_EQ(seen.size(), 6u);
}

TEST_F(Dispatch, NullTextAndNullListGiveAnEmptyText) {
  const char* list[1] = {nullptr};
  EXPECT_EQ(wl::ExecAction(kEdition, 1, list), 1);
  EXPECT_EQ(wl::ExecAction(kEdition, 1, nullptr), 1);
  EXPECT_EQ(seen, (std::vector<std::string>{"", ""}));
}

TEST_F(Dispatch, TextEndsAtItsFirstNul) {
  const char text[] = "ab\0cd";
  EXPECT_EQ(Exec(1, text), 1);
  EXPECT_EQ(seen.at(0), "ab");
}

TEST_F(Dispatch, LongTextsAreCutAtTheLimit) {
  std::string big(wl::kMaxParameterText + 10, 'x');
  EXPECT_EQ(Exec(1, big.c_str()), 1);
  EXPECT_EQ(seen.at(0).size(), wl::kMaxParameterText);
}

// Each of two tables answers for itself, whichever was asked first, for
// numbers small and large; a number twice in a table finds its first entry.
TEST(FindAction, EachTableAnswersForItself) {
  const wl::CatalogueEntry first[] = {
      {0, "Group", nullptr, nullptr}, {5, "five", "h", Record}, {300, "big", "h", Record},
      {5, "again", "h", Record},      {-2, "odd", "h", Record},
  };
  const wl::CatalogueEntry second[] = {{7, "seven", "h", Record}};
  const wl::Edition a = {"a", "p", "h", first, 5};
  const wl::Edition b = {"b", "p", "h", second, 1};
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(wl::FindAction(a, 5), &first[1]);
    EXPECT_EQ(wl::FindAction(a, 300), &first[2]);
    EXPECT_EQ(wl::FindAction(a, -2), &first[4]);
    EXPECT_EQ(wl::FindAction(a, 7), nullptr);
    EXPECT_EQ(wl::FindAction(a, 0), nullptr);
    EXPECT_EQ(wl::FindAction(b, 7), &second[0]);
    EXPECT_EQ(wl::FindAction(b, 5), nullptr);
    EXPECT_EQ(wl::FindAction(b, 300), nullptr);
  }
}

TEST(EditAction, AnswersOnlyActionNumbers) {
  EXPECT_EQ(wl::EditAction(kEdition, 1), 1);
  EXPECT_EQ(wl::EditAction(kEdition, 5), 1);
  EXPECT_EQ(wl::EditAction(kEdition, 0), 0);
  EXPECT_EQ(wl::EditAction(kEdition, 2), 0);
}
