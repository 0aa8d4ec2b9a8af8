// Scripts loaded whole and run against a recording host: block matching and
// its messages, the flow of If, While, Loop and GotoLine, the text
// functions, errors at run time and stops.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "host/runner/program.h"

namespace {

using nbrun::Outcome;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string LoadError(const std::string& text) {
  nbrun::Program program;
  std::string error;
  EXPECT_FALSE(nbrun::Load(Lines(text), "t.nbs", 1, program, error)) << text;
  return error;
}

// Records what the script does; its actions set "got" to their parameters,
// and it asks the run to stop after `stopAfter` statements.
class RecordingHost : public nbrun::Host {
 public:
  bool action(const std::string& name, const std::string& parameters) override {
    if (name == "wlNoSuch") return false;
    log += name + "(" + parameters + ") ";
    variables["got"] = parameters;
    return true;
  }
  void print(const std::string& text) override { log += text + " "; }
  void pause(int milliseconds) override { log += "pause " + std::to_string(milliseconds) + " "; }
  Outcome stop(std::string& why) override {
    if (++statements <= stopAfter) return Outcome::Done;
    why = "stopped";
    return Outcome::Interrupted;
  }
  std::string variable(const std::string& name) override { return variables[name]; }
  void setVariable(const std::string& name, const std::string& value) override {
    variables[name] = value;
  }

  std::string log;
  std::map<std::string, std::string> variables;
  int statements = 0;
  int stopAfter = 100000;
};

Outcome RunText(const std::string& text, RecordingHost& host, std::string& message) {
  nbrun::Program program;
  std::string error;
  EXPECT_TRUE(nbrun::Load(Lines(text), "t.nbs", 1, program, error)) << error;
  return nbrun::Run(program, host, message);
}

std::string LogOf(const std::string& text) {
  RecordingHost host;
  std::string message;
  EXPECT_EQ(RunText(text, host, message), Outcome::Done) << message;
  return host.log;
}

TEST(Loading, BlocksJumpsAndArgumentsThatDoNotFitNameTheirLine) {
  EXPECT_EQ(LoadError("# one\n\nIf \"1\" \"=\" \"1\"\n"), "t.nbs:3: If without EndIf");
  EXPECT_EQ(LoadError("Loop \"1\" \"2\" \"[i]\"\nEndLoop\nEndLoop"),
            "t.nbs:3: EndLoop without Loop");
  EXPECT_EQ(LoadError("While \"1\" \"=\" \"1\"\nEndIf"),
            "t.nbs:2: EndIf, but the While on line 1 has no EndWhile");
  EXPECT_EQ(LoadError("If \"a\" \"=\" \"b\"\nElse\nElse\nEndIf"),
            "t.nbs:3: a second Else for the same If");
  EXPECT_EQ(LoadError("If \"a\" \"=\" \"b\"\nElse\n"), "t.nbs:2: Else without EndIf");
  EXPECT_EQ(LoadError("Else"), "t.nbs:1: Else without If");
  EXPECT_EQ(LoadError("If \"a\" \"=\" \"b\"\nExitLoop\nEndIf"),
            "t.nbs:2: ExitLoop outside Loop and While");
  EXPECT_EQ(LoadError("GotoLine \"nowhere\""), "t.nbs:1: GotoLine: there is no label :nowhere");
  EXPECT_EQ(LoadError(":Retry\n:retry"), "t.nbs:2: the label :retry is already on line 1");
  EXPECT_EQ(LoadError("Math \"2+*3\" \"0\" \"[x]\""),
            "t.nbs:1: Math: cannot read \"2+*3\": expected a number at \"*3\"");
  EXPECT_EQ(LoadError("Math \"1\" \"16\" \"[x]\""),
            "t.nbs:1: Math: \"16\" is not a number of decimals (0 to 15)");
  EXPECT_EQ(LoadError("If \"1\" \"==\" \"1\"\nEndIf"),
            "t.nbs:1: If: \"==\" is not an operator: use =, <>, >, <, >= or <=");
  EXPECT_EQ(LoadError("Pause \"soon\""),
            "t.nbs:1: Pause: \"soon\" is not a number of milliseconds");
  EXPECT_EQ(LoadError("Loop \"a\" \"3\" \"[i]\"\nEndLoop"),
            "t.nbs:1: Loop: \"a\" is not a whole number");
  EXPECT_EQ(LoadError("SubStr \"x\" \"0\" \"1\" \"[p]\""),
            "t.nbs:1: SubStr: \"0\" is not a position (1 or more)");
  EXPECT_EQ(LoadError("Print \"ok\"\nwlCommSend \"1,abc"),
            "t.nbs:2: a double quote is never closed");

  // What holds a variable waits until it runs.
  nbrun::Program program;
  std::string error;
  EXPECT_TRUE(
      nbrun::Load(Lines("Math \"[a]*\" \"[d]\" \"[x]\"\nGotoLine \"[where]\"\nPause \"[ms]\""), "",
                  7, program, error))
      << error;
  EXPECT_EQ(program.where(program.lines[1]), "line 8");
}

TEST(Running, BlocksLoopsAndJumpsTakeTheirWays) {
  EXPECT_EQ(
      LogOf(
          "If \"1\" \"=\" \"1.0\"\n"
          "  If \"a\" \"=\" \"B\"\n    Print \"wrong\"\n  Else\n    Print \"inner else\"\n  EndIf\n"
          "Else\n  Print \"wrong\"\nEndIf\n"
          "If \"x\" \"=\" \"y\"\n  Print \"wrong\"\nEndIf"),
      "inner else ");
  // While re-reads its condition; ExitLoop leaves the innermost loop only.
  EXPECT_EQ(
      LogOf("SetVar \"n\" \"0\"\nWhile \"[n]\" \"<\" \"3\"\n  Math \"[n]+1\" \"0\" \"[n]\"\n"
            "  Loop \"1\" \"5\" \"[i]\"\n    If \"[i]\" \">\" \"[n]\"\n      ExitLoop\n    EndIf\n"
            "    Print \"[n].[i]\"\n  EndLoop\nEndWhile\nWhile \"1\" \"=\" \"1\"\n  ExitLoop\n"
            "EndWhile\nPrint \"after\""),
      "1.1 2.1 2.2 3.1 3.2 3.3 after ");
  // Loop counts down when it must, keeps its own count, and runs once when
  // both ends are the same.
  EXPECT_EQ(LogOf("Loop \"3\" \"1\" \"[i]\"\n  Print \"[i]\"\n  SetVar \"[i]\" \"99\"\nEndLoop\n"
                  "Loop \"7\" \"7\" \"[j]\"\n  Print \"j[j]\"\nEndLoop"),
            "3 2 1 j7 ");
  // A retry: GotoLine back to a label, and out of a loop.
  EXPECT_EQ(LogOf("SetVar \"tries\" \"0\"\n:again\nMath \"[tries]+1\" \"0\" \"[tries]\"\n"
                  "wlCommSendCRLF \"1,W [tries]\"\nIf \"[tries]\" \"<\" \"3\"\n  GotoLine "
                  "\"AGAIN\"\nEndIf\n"
                  "Loop \"1\" \"9\" \"[i]\"\n  GotoLine \"out\"\nEndLoop\n:out\nPrint \"i=[i]\""),
            "wlCommSendCRLF(1,W 1) wlCommSendCRLF(1,W 2) wlCommSendCRLF(1,W 3) i=1 ");
}

TEST(Running, TextFunctionsAndMathSetTheirVariables) {
  RecordingHost host;
  host.variables["reading"] = "ST,GS,+0012.34 kg";
  std::string message;
  ASSERT_EQ(
      RunText("StrLen \"[reading]\" \"[length]\"\n"
              "SearchStr \"GS\" \"[reading]\" \"[at]\"\nSearchStr \"gs\" \"[reading]\" \"[none]\"\n"
              "SearchStr \"\" \"[reading]\" \"[empty]\"\n"
              "SubStr \"[reading]\" \"7\" \"8\" \"[weight]\"\nSubStr \"[reading]\" \"16\" \"99\" "
              "\"[unit]\"\n"
              "SubStr \"[reading]\" \"40\" \"2\" \"[beyond]\"\n"
              "StrLower \"[unit] OK\" \"[lower]\"\nStrUpper \"[unit]\" \"[upper]\"\n"
              "Math \"([weight] - 0.34) * 2 / 3\" \"2\" \"[math]\"\nPause \"[length]\"",
              host, message),
      Outcome::Done)
      << message;
  const std::map<std::string, std::string> expected = {
      {"length", "17"}, {"at", "4"},    {"none", "0"},      {"empty", "0"},  {"weight", "+0012.34"},
      {"unit", "kg"},   {"beyond", ""}, {"lower", "kg ok"}, {"upper", "KG"}, {"math", "8.00"}};
  for (const auto& variable : expected) {
    EXPECT_EQ(host.variables[variable.first], variable.second) << variable.first;
  }
  EXPECT_EQ(host.log, "pause 17 ");
}

TEST(Running, FailuresAtRunTimeNameTheLineAndStopThere) {
  struct Case {
    const char* script;
    Outcome outcome;
    const char* message;
  } cases[] = {
      {"SetVar \"w\" \"ST,GS\"\nMath \"[w]*2\" \"0\" \"[x]\"\nPrint \"no\"", Outcome::Failed,
       "t.nbs:2: Math: cannot read \"ST,GS*2\": expected a number at \"ST,GS*2\""},
      {"Math \"1/[zero]0\" \"0\" \"[x]\"", Outcome::Failed,
       "t.nbs:1: Math: cannot read \"1/0\": division by zero"},
      {"Loop \"1\" \"[n]\" \"[i]\"\nEndLoop", Outcome::Failed,
       "t.nbs:1: Loop: \"\" is not a whole number"},
      {"wlNoSuch \"1\"", Outcome::Failed, "t.nbs:1: the plug-in has no action named wlNoSuch"},
      {"GotoLine \"[to]\"", Outcome::Failed, "t.nbs:1: GotoLine: there is no label :"},
      {"GotoLine \"in\"\nLoop \"1\" \"2\" \"[i]\"\n:in\nEndLoop", Outcome::Failed,
       "t.nbs:4: EndLoop reached without running its Loop (a GotoLine into the loop?)"},
      {"wlCommRxCount \"16,n\"\nExpect \"[got]\" \" 0\"\nPrint \"no\"", Outcome::ExpectFailed,
       "t.nbs:2: expected [got] to read \" 0\", it reads \"16,n\""},
  };
  for (const Case& c : cases) {
    RecordingHost host;
    std::string message;
    EXPECT_EQ(RunText(c.script, host, message), c.outcome) << c.script;
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(host.log.find("no "), std::string::npos) << host.log;
  }
}

TEST(Running, AStopEndsTheRunBeforeTheNextStatement) {
  RecordingHost host;
  host.stopAfter = 5;
  std::string message;
  EXPECT_EQ(RunText("While \"1\" \"=\" \"1\"\n  wlCommRxCount \"1,n\"\nEndWhile", host, message),
            Outcome::Interrupted);
  EXPECT_EQ(message, "t.nbs:3: stopped");
  EXPECT_EQ(host.log, "wlCommRxCount(1,n) wlCommRxCount(1,n) ");
}

}  // namespace
