// The runner's script language: lines, quotes, substitution, visible bytes.
#include <gtest/gtest.h>

#include <map>

#include "host/runner/script.h"

using nbrun::ParseLine;
using nbrun::StatementKind;

TEST(ScriptLines, ActionsTakeOneQuotedTextWithDoubledQuotes) {
  auto parsed = ParseLine("  wlCommSend \"1,say \"\"hi\"\", then go\"");
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.statement.kind, StatementKind::Action);
  EXPECT_EQ(parsed.statement.name, "wlCommSend");
  ASSERT_EQ(parsed.statement.arguments.size(), 1u);
  EXPECT_EQ(parsed.statement.arguments[0], "1,say \"hi\", then go");

  parsed = ParseLine("wlTCPclose");
  ASSERT_TRUE(parsed.ok);
  EXPECT_TRUE(parsed.statement.arguments.empty());

  parsed = ParseLine("wlTCPsend \"\"");  // an empty text is one argument
  ASSERT_TRUE(parsed.ok);
  ASSERT_EQ(parsed.statement.arguments.size(), 1u);
  EXPECT_EQ(parsed.statement.arguments[0], "");
}

TEST(ScriptLines, StatementsCommentsAndBlankLines) {
  EXPECT_EQ(ParseLine("").statement.kind, StatementKind::Nothing);
  EXPECT_EQ(ParseLine("   \t\r").statement.kind, StatementKind::Nothing);
  EXPECT_EQ(ParseLine("# wlCommSend \"1,x\"").statement.kind, StatementKind::Nothing);
  EXPECT_EQ(ParseLine(".comment").statement.kind, StatementKind::Nothing);
  EXPECT_EQ(ParseLine("SetVar \"[a]\" \"1\"").statement.kind, StatementKind::SetVar);
  EXPECT_EQ(ParseLine("setvar \"a\" \"1\"").statement.kind, StatementKind::SetVar);
  EXPECT_EQ(ParseLine("Print \"x\"").statement.kind, StatementKind::Print);
  EXPECT_EQ(ParseLine("Pause \"250\"").statement.kind, StatementKind::Pause);
  EXPECT_EQ(ParseLine("Delay 250").statement.kind, StatementKind::Pause);
  EXPECT_EQ(ParseLine("Expect \"[a]\" \" 0\"").statement.kind, StatementKind::Expect);
  EXPECT_EQ(ParseLine("endWhile").statement.kind, StatementKind::EndWhile);
  EXPECT_EQ(ParseLine("SubStr \"[t]\" \"1\" \"2\" \"[p]\"").statement.kind, StatementKind::SubStr);
  auto label = ParseLine("  :retry \t");
  EXPECT_EQ(label.statement.kind, StatementKind::Label);
  EXPECT_EQ(label.statement.name, "retry");
  // A line saved on Windows keeps its CR: it must not become part of a text.
  auto parsed = ParseLine("Print \"x\"\r");
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.statement.arguments[0], "x");
}

TEST(ScriptLines, MalformedLinesSayWhy) {
  EXPECT_EQ(ParseLine("wlCommSend \"1,abc").error, "a double quote is never closed");
  EXPECT_FALSE(ParseLine("wlCommSend \"1\" \"2\"").ok);
  EXPECT_FALSE(ParseLine("SetVar \"[a]\"").ok);
  EXPECT_FALSE(ParseLine("Expect \"[a]\"").ok);
  EXPECT_EQ(ParseLine("Else \"x\"").error, "Else takes no arguments");
  EXPECT_EQ(ParseLine("If \"[a]\" \"=\"").error, "If takes 3 arguments");
  EXPECT_EQ(ParseLine(":").error, "a label needs a name after the colon");
  EXPECT_FALSE(ParseLine("\"no name\"").ok);
}

TEST(Substitution, VariablesInBracketsAreReplaced) {
  const std::map<std::string, std::string> vars = {{"port", "3"}, {"x", "[port]"}};
  const nbrun::Lookup lookup = [&](const std::string& name) {
    auto it = vars.find(name);
    return it == vars.end() ? std::string() : it->second;
  };
  EXPECT_EQ(nbrun::Substitute("[port],9600", lookup), "3,9600");
  EXPECT_EQ(nbrun::Substitute("a[missing]b", lookup), "ab");
  EXPECT_EQ(nbrun::Substitute("[x]", lookup), "[port]");  // one pass, as the host does
  EXPECT_EQ(nbrun::Substitute("a [b", lookup), "a [b");
  EXPECT_EQ(nbrun::Substitute("] [port]", lookup), "] 3");
  EXPECT_EQ(nbrun::VariableName("[a]"), "a");
  EXPECT_EQ(nbrun::VariableName("a"), "a");
}

TEST(Visible, NonPrintableBytesAreShown) {
  EXPECT_EQ(nbrun::Visible("ok"), "ok");
  EXPECT_EQ(nbrun::Visible("a\r\n\t"), "a\\r\\n\\t");
  EXPECT_EQ(nbrun::Visible(std::string("\0\xFF\x7F", 3)), "\\x00\\xFF\\x7F");
  EXPECT_EQ(nbrun::Visible("say \"\\\""), "say \\\"\\\\\\\"");
}
