// The author's guide keeps step with both catalogues: every action either
// edition registers has a section under its exact name, and no section
// names an action that neither edition has.
#include <gtest/gtest.h>

#include <fstream>
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

TEST(Guide, EveryActionOfBothEditionsHasItsSection) {
  const std::set<std::string> sections = Headings("### ");
  ASSERT_FALSE(sections.empty()) << "no guide at " << WL_GUIDE;
  std::set<std::string> all;
  for (const char* file : {"Wirelet.nbp", "Quillport.nbp"}) {
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

}  // namespace
