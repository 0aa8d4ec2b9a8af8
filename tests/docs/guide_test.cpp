// The author's guide keeps step with the catalogues: every action an
// edition, Wirebench or Wirecodes registers has a section under its exact name, and
// no section names an action that none of them has. The HTML page made from it
// (guide.html, shipped beside the plug-ins) has an anchor under every
// action's name, and stands alone.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "host/nbhost.h"
#include "support/paths.h"

namespace {

std::set<std::string> Headings(const std::string& level) {
  std::ifstream guide(WL_GUIDE);
  std::set<std::string> headings;
  std::string line;
  while (std::getline(guide, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(level, 0) == 0) headings.insert(line.substr(level.size()));
  }
  return headings;
}

std::set<std::string> ActionsOf(const std::string& file) {
  nbhost::PlugIn plugIn;
  std::string error;
  EXPECT_TRUE(plugIn.load(wltest::OutputFile(file), &error)) << error;
  plugIn.registerPlugIn();
  std::set<std::string> names;
  for (const nbhost::Registration& entry : plugIn.registrations()) {
    if (entry.number != 0) names.insert(entry.name);
  }
  return names;
}

// The plug-ins the guide documents: both editions, Wirebench and Wirecodes.
const char* const kEditions[] = {"Wirelet.nbp", "Quillport.nbp", "Wirebench.nbp", "Wirecodes.nbp"};

std::string Page() {
  std::ifstream file(wltest::OutputFile("guide.html"));
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The first group of every match of pattern in text.
std::set<std::string> Matches(const std::string& text, const std::string& pattern) {
  std::set<std::string> found;
  const std::regex re(pattern);
  for (std::sregex_iterator m(text.begin(), text.end(), re), end; m != end; ++m) found.insert((*m)[1]);
  return found;
}

TEST(Guide, EveryActionOfBothEditionsHasItsSection) {
  const std::set<std::string> sections = Headings("### ");
  ASSERT_FALSE(sections.empty()) << "no guide at " << WL_GUIDE;
  std::set<std::string> all;
  for (const char* file : kEditions) {
    const std::set<std::string> actions = ActionsOf(file);
    EXPECT_FALSE(actions.empty()) << file;
    for (const std::string& name : actions) {
      EXPECT_TRUE(sections.count(name)) << file << ": no section for " << name;
      all.insert(name);
    }
  }
  for (const std::string& section : sections) {
    EXPECT_TRUE(all.count(section)) << "the guide documents " << section
                                    << ", which no edition has";
  }
}

TEST(Guide, EveryCategoryHasItsChapter) {
  const std::set<std::string> chapters = Headings("## ");
  nbhost::PlugIn plugIn;
  std::string error;
  ASSERT_TRUE(plugIn.load(wltest::OutputFile("Wirelet.nbp"), &error)) << error;
  plugIn.registerPlugIn();
  for (const nbhost::Registration& entry : plugIn.registrations()) {
    if (entry.number == 0) {
      EXPECT_TRUE(chapters.count(entry.name)) << entry.name;
    }
  }
}

// guide.html#wlCommRxLine opens that action's section, and the contents
// lead there.
TEST(GuidePage, EveryActionOfBothEditionsHasItsAnchorInTheContents) {
  const std::string page = Page();
  ASSERT_FALSE(page.empty()) << "no guide.html in the output folder";
  const std::set<std::string> ids = Matches(page, R"re(<h3 id="([^"]+)")re");
  const std::set<std::string> links = Matches(page, R"re(href="#([^"]+)")re");
  for (const char* file : kEditions) {
    for (const std::string& name : ActionsOf(file)) {
      EXPECT_TRUE(ids.count(name)) << file << ": no section with the id " << name;
      EXPECT_TRUE(links.count(name)) << file << ": the contents do not lead to " << name;
    }
  }
}

// An author reads it off line: nothing is loaded from elsewhere, and every
// link within the page lands on an anchor it has.
TEST(GuidePage, StandsAlone) {
  const std::string page = Page();
  ASSERT_FALSE(page.empty());
  EXPECT_NE(page.find("<style>"), std::string::npos);
  EXPECT_EQ(Matches(page, R"re((<link|<script|<iframe|url\())re"), std::set<std::string>{});
  // Pictures are carried in the page.
  EXPECT_EQ(Matches(page, R"re(src="(.{0,22}))re"), std::set<std::string>{"data:image/png;base64,"});
  EXPECT_EQ(Matches(page, R"re(href="((https?:|//|file:)[^"]*)")re"), std::set<std::string>{});
  const std::set<std::string> ids = Matches(page, R"re( id="([^"]+)")re");
  for (const std::string& target : Matches(page, R"re(href="#([^"]+)")re")) {
    EXPECT_TRUE(ids.count(target)) << "a link to #" << target << " leads nowhere";
  }
}

}  // namespace
