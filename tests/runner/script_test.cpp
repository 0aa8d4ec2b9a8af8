// The runner's script language: lines, quotes, substitution, visible bytes.
#include <gtest/gtest.h>

#include <map>

#include "host/runner/script.h"
#include "host/runner/variables.h"

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
  EXPECT_EQ(ParseLine("StrParse \"a,b\" \",\" \"[i]\" \"[n]\"").statement.kind, StatementKind::StrParse);
  EXPECT_EQ(ParseLine("alertbox \"Scale\" \"No answer\"").statement.kind, StatementKind::AlertBox);
  auto label = ParseLine("  :retry \t");
  EXPECT_EQ(label.statement.kind, StatementKind::Label);
  EXPECT_EQ(label.statement.name, "retry");
  // A line saved on Windows keeps its CR: it must not become part of a text.
  auto parsed = ParseLine("Print \"x\"\r");
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.statement.arguments[0], "x");
}

TEST(ScriptLines, FilesReadAsNotepadSavesThem) {
  std::vector<std::string> lines;
  std::string error;
  // A byte order mark, then CR LF, LF and lone CR endings mixed; the last
  // line has none. An empty line between two endings stays a line.
  ASSERT_TRUE(nbrun::SplitScript("\xEF\xBB\xBFPrint \"a\"\r\nPrint \"b\"\n\rPrint \"c\"\rEnd",
                                 lines, error));
  EXPECT_EQ(lines, (std::vector<std::string>{"Print \"a\"", "Print \"b\"", "", "Print \"c\"",
                                             "End"}));
  ASSERT_TRUE(nbrun::SplitScript("one\r\n\r\n", lines, error));
  EXPECT_EQ(lines, (std::vector<std::string>{"one", ""}));
  ASSERT_TRUE(nbrun::SplitScript("", lines, error));
  EXPECT_TRUE(lines.empty());
  // A byte order mark anywhere else is text.
  ASSERT_TRUE(nbrun::SplitScript("a\n\xEF\xBB\xBF", lines, error));
  EXPECT_EQ(lines[1], "\xEF\xBB\xBF");
  EXPECT_FALSE(nbrun::SplitScript(std::string("\xFF\xFEP\0r\0", 6), lines, error));
  EXPECT_EQ(error, "the script is saved as UTF-16 (\"Unicode\"): save it as UTF-8 or ANSI");

  const auto nul = ParseLine(std::string("Print \"a\0b\"", 11));
  EXPECT_FALSE(nul.ok);
  EXPECT_EQ(nul.error, "a NUL byte at column 9: save the script as text");
}

TEST(ScriptLines, MalformedLinesSayWhy) {
  EXPECT_EQ(ParseLine("wlCommSend \"1,abc").error, "a double quote is never closed");
  EXPECT_FALSE(ParseLine("wlCommSend \"1\" \"2\"").ok);
  EXPECT_FALSE(ParseLine("SetVar \"[a]\"").ok);
  EXPECT_FALSE(ParseLine("Expect \"[a]\"").ok);
  EXPECT_EQ(ParseLine("Else \"x\"").error, "Else takes no arguments");
  EXPECT_EQ(ParseLine("If \"[a]\" \"=\"").error, "If takes 3 arguments");
  EXPECT_EQ(ParseLine("AlertBox \"no title\"").error, "AlertBox takes 2 arguments");
  EXPECT_EQ(ParseLine("StrParse \"a,b\" \",\" \"[i]\"").error, "StrParse takes 4 arguments");
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
  EXPECT_EQ(nbrun::VariableName("[item[i]]"), "item[i]");
}

TEST(Substitution, InnerNamesFirstAndBytesByTheirCodes) {
  const std::map<std::string, std::string> vars = {
      {"i", "3"}, {"item3", "c"}, {"x", "[i]"}, {"item[i]", "never"}, {"k", "#13"}};
  const nbrun::Lookup lookup = [&](const std::string& name) {
    auto it = vars.find(name);
    return it == vars.end() ? std::string() : it->second;
  };
  // An array's item by its index, as StrParse's items are read in a loop.
  EXPECT_EQ(nbrun::Substitute("[item[i]]!", lookup), "c!");
  // A value's brackets are not read again: [item[x]] names "item[i]".
  EXPECT_EQ(nbrun::Substitute("[item[x]]", lookup), "never");
  EXPECT_EQ(nbrun::Substitute("[[k]]", lookup), "\r");  // the name a value makes, #13
  EXPECT_EQ(nbrun::Substitute("a[item[i]", lookup), "a[item3");  // an open bracket stays
  // [#n] is the byte n, 1 to 255; other names after # are variables.
  EXPECT_EQ(nbrun::Substitute("A[#13][#10][#255][#1]", lookup), "A\r\n\xFF\x01");
  EXPECT_EQ(nbrun::Substitute("[#0][#256][#1a][#][#0065]", lookup), "");
  EXPECT_EQ(nbrun::Substitute("[#[i]]", lookup), "\x03");
  EXPECT_EQ(nbrun::Substitute("[#91]x[#93]", lookup), "[x]");  // bytes are text, not names
}

TEST(Variables, NamesIgnoreCaseAndSetTakesBracketsOrNot) {
  nbrun::Variables variables;
  variables.set("wlCommErr", " 0");
  EXPECT_EQ(variables.get("WLCOMMERR"), " 0");
  variables.set("WlCommErr", " 52");
  EXPECT_EQ(variables.get("wlcommerr"), " 52");
  EXPECT_EQ(variables.get("wlCommEof"), "");
  variables.set("\xC4x", "1");  // only A to Z fold: other bytes differ by code page
  EXPECT_EQ(variables.get("\xE4x"), "");

  std::string name, value;
  ASSERT_TRUE(nbrun::ReadAssignment("[port]=3", name, value));
  EXPECT_EQ(name, "port");
  EXPECT_EQ(value, "3");
  ASSERT_TRUE(nbrun::ReadAssignment("line=a=b", name, value));
  EXPECT_EQ(name, "line");
  EXPECT_EQ(value, "a=b");
  ASSERT_TRUE(nbrun::ReadAssignment("empty=", name, value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(nbrun::ReadAssignment("port", name, value));
  EXPECT_FALSE(nbrun::ReadAssignment("=3", name, value));
  EXPECT_FALSE(nbrun::ReadAssignment("[]=3", name, value));
}

TEST(Visible, NonPrintableBytesAreShown) {
  EXPECT_EQ(nbrun::Visible("ok"), "ok");
  EXPECT_EQ(nbrun::Visible("a\r\n\t"), "a\\r\\n\\t");
  EXPECT_EQ(nbrun::Visible(std::string("\0\xFF\x7F", 3)), "\\x00\\xFF\\x7F");
  EXPECT_EQ(nbrun::Visible("say \"\\\""), "say \\\"\\\\\\\"");
}
