// Scripts loaded whole and run against a recording host: block matching and
// its messages, the flow of If, While, Loop and GotoLine, the text
// functions, errors at run time and stops.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "host/runner/program.h"
#include "host/runner/session.h"

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

  void expected(const std::string& where, int pass, bool held, const std::string&) override {
    expects += where + "#" + std::to_string(pass) + (held ? "+ " : "- ");
  }

  std::string log;
  std::string expects;  // where#pass and + held / - failed, in order
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

  // Every action name is checked against the loaded catalogues before
  // anything runs, in any case.
  const nbrun::ActionKnown known = [](const std::string& name) {
    return name == "wlCommSend" || name == "WLCOMMSEND";
  };
  nbrun::Program loaded;
  std::string why;
  EXPECT_FALSE(nbrun::Load(Lines("Print \"a\"\nwlCommSend \"1,x\"\nwlCommSnd \"1,x\""), "t.nbs", 1,
                           loaded, why, known));
  EXPECT_EQ(why, "t.nbs:3: no loaded plug-in has an action wlCommSnd");
  EXPECT_EQ(LoadError(std::string("Print \"a\"\nPrint \"\0\"", 20)),
            "t.nbs:2: a NUL byte at column 8: save the script as text");

  // What holds a variable waits until it runs.
  nbrun::Program program;
  std::string error;
  EXPECT_TRUE(
      nbrun::Load(Lines("Math \"[a]*\" \"[d]\" \"[x]\"\nGotoLine \"[where]\"\nPause \"[ms]\""), "",
                  7, program, error))
      << error;
  EXPECT_EQ(program.where(program.lines[1]), "line 8");
}

// Lines added to a loaded program are loaded as if the script had held
// them: their blocks matched among them, their jumps to the labels before
// them; lines refused leave the program as it was.
TEST(Loading, LinesAddedToAProgramLoadAsTheWholeScriptWould) {
  const std::string head = ":top\nSetVar \"[n]\" \"0\"\n";
  const std::string tail = "While \"[n]\" \"<\" \"2\"\nMath \"[n]+1\" \"0\" \"[n]\"\n"
                           "If \"[n]\" \"=\" \"9\"\nGotoLine \"top\"\nElse\nExitLoop\nEndIf\nEndWhile\n";
  nbrun::Program whole, grown;
  std::string error;
  ASSERT_TRUE(nbrun::Load(Lines(head + tail), "t.nbs", 1, whole, error)) << error;
  ASSERT_TRUE(nbrun::Load(Lines(head), "t.nbs", 1, grown, error)) << error;
  ASSERT_TRUE(nbrun::Extend(grown, Lines(tail), 3, error)) << error;
  ASSERT_EQ(grown.lines.size(), whole.lines.size());
  for (size_t k = 0; k < whole.lines.size(); ++k) {
    EXPECT_EQ(grown.lines[k].number, whole.lines[k].number) << k;
    EXPECT_EQ(grown.lines[k].match, whole.lines[k].match) << k;
    EXPECT_EQ(grown.lines[k].statement.name, whole.lines[k].statement.name) << k;
  }
  EXPECT_EQ(grown.labels, whole.labels);

  EXPECT_FALSE(nbrun::Extend(grown, Lines(":again\nEndIf"), 11, error));
  EXPECT_EQ(error, "t.nbs:12: EndIf without If");
  EXPECT_FALSE(nbrun::Extend(grown, Lines(":more\n:top"), 11, error));
  EXPECT_EQ(error, "t.nbs:12: the label :top is already on line 1");
  EXPECT_EQ(grown.lines.size(), whole.lines.size());
  EXPECT_EQ(grown.labels, whole.labels);  // :again and :more went with their lines
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

// StrParse fills an array whose items a loop reads through nested names,
// and a target may be an item ([field[i]]); AlertBox shows its title and
// message.
TEST(Running, StrParseMakesAnArrayThatNestedNamesRead) {
  RecordingHost host;
  host.variables["rmc"] = "$GPRMC,123519,A,4807.038,N,,*6A";
  std::string message;
  ASSERT_EQ(RunText("StrParse \"[rmc]\" \",\" \"[field]\" \"[count]\"\n"
                    "Loop \"1\" \"[count]\" \"[i]\"\n"
                    "  Print \"[i]=[field[i]]\"\n"
                    "  StrLen \"[field[i]]\" \"[size[i]]\"\n"
                    "EndLoop\n"
                    "StrParse \"OK[#13][#10]NO\" \"[#13][#10]\" \"[line]\" \"[lines]\"\n"
                    "StrParse \"\" \",\" \"[none]\" \"[nothing]\"\n"
                    "StrParse \"a,b\" \"\" \"[whole]\" \"[one]\"\n"
                    "AlertBox \"GPS\" \"fix [field3]\"\nAlertBox \"\" \"untitled\"",
                    host, message),
            Outcome::Done)
      << message;
  EXPECT_EQ(host.log,
            "1=$GPRMC 2=123519 3=A 4=4807.038 5=N 6= 7=*6A GPS: fix A untitled ");
  const std::map<std::string, std::string> expected = {
      {"count", "7"},   {"size2", "6"}, {"size6", "0"},       {"lines", "2"},  {"line1", "OK"},
      {"line2", "NO"},  {"nothing", "0"}, {"none1", ""},      {"one", "1"},    {"whole1", "a,b"}};
  for (const auto& variable : expected) {
    EXPECT_EQ(host.variables[variable.first], variable.second) << variable.first;
  }
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
      {"wlNoSuch \"1\"", Outcome::Failed, "t.nbs:1: no loaded plug-in has an action wlNoSuch"},
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

TEST(Running, AStopEndsTheRunWithTheLineThatRanTheLastOneToo) {
  RecordingHost host;
  host.stopAfter = 4;
  std::string message;
  EXPECT_EQ(RunText("While \"1\" \"=\" \"1\"\n  wlCommRxCount \"1,n\"\nEndWhile", host, message),
            Outcome::Interrupted);
  EXPECT_EQ(message, "t.nbs:2: stopped");  // asked for during the 5th statement, the 2nd action
  EXPECT_EQ(host.log, "wlCommRxCount(1,n) wlCommRxCount(1,n) ");

  // A stop asked for during the last line (a Pause cut short) is no run
  // that ended well; it names that line, not the one before or after.
  for (int lastLine : {1, 3}) {
    RecordingHost last;
    const std::string script =
        lastLine == 1 ? "Pause \"60000\"" : "Print \"a\"\n# two\nPause \"60000\"";
    last.stopAfter = lastLine == 1 ? 0 : 1;
    EXPECT_EQ(RunText(script, last, message), Outcome::Interrupted) << script;
    EXPECT_EQ(message, "t.nbs:" + std::to_string(lastLine) + ": stopped");
  }

  // Run from a later line: what comes before it does not run.
  RecordingHost from;
  nbrun::Program program;
  ASSERT_TRUE(nbrun::Load(Lines("Print \"a\"\nPrint \"b\""), "", 1, program, message));
  EXPECT_EQ(nbrun::Run(program, from, message, 1), Outcome::Done);
  EXPECT_EQ(from.log, "b ");
}

// Feeds typed lines to a session; what each returned and said, one a line.
std::string Typed(nbrun::Session& session, RecordingHost& host,
                  const std::vector<std::string>& lines) {
  std::string said;
  for (const std::string& line : lines) {
    std::string message;
    const Outcome outcome = session.feed(line, host, message);
    said += std::to_string(static_cast<int>(outcome)) + (session.open() ? "+" : "") +
            (message.empty() ? "" : " " + message) + "\n";
  }
  return said;
}

TEST(Prompt, BlocksRunWhenCompleteAndMistakesAreRefusedAsTyped) {
  const nbrun::ActionKnown known = [](const std::string& name) { return name == "wlCommSend"; };
  nbrun::Session session(known);
  RecordingHost host;
  // An If that does not hold runs nothing: not even the Print inside it.
  EXPECT_EQ(Typed(session, host, {"If \"1\" \"=\" \"2\"", "  Print \"body\"", "EndIf"}),
            "0+\n0+\n0\n");
  EXPECT_EQ(host.log, "");
  // A mistake inside a block is refused at once and the block goes on;
  // lines keep the numbers they were typed with.
  EXPECT_EQ(Typed(session, host,
                  {"Loop \"1\" \"2\" \"[i]\"", "  wlCommSnd \"1,[i]\"", "  Pause \"soon\"",
                   "  wlCommSend \"1,[i]\"", "EndLoop"}),
            "0+\n2+ line 5: no loaded plug-in has an action wlCommSnd\n"
            "2+ line 6: Pause: \"soon\" is not a number of milliseconds\n0+\n0\n");
  EXPECT_EQ(host.log, "wlCommSend(1,1) wlCommSend(1,2) ");
  // A block that cannot be matched is refused whole; a run-time error ends
  // what was typed but not the prompt; an Expect that fails says so.
  EXPECT_EQ(Typed(session, host,
                  {"EndWhile", "Math \"1/[zero]0\" \"0\" \"[x]\"", "Expect \"[got]\" \"1,3\""}),
            "2 line 9: EndWhile without While\n"
            "2 line 10: Math: cannot read \"1/0\": division by zero\n"
            "1 line 11: expected [got] to read \"1,3\", it reads \"1,2\"\n");
  EXPECT_EQ(session.end(), "");
  EXPECT_EQ(Typed(session, host, {"While \"1\" \"=\" \"1\""}), "0+\n");
  EXPECT_EQ(session.end(), "line 12: While without EndWhile");
}

TEST(Prompt, LabelsStayKnownAndAJumpBackGoesOnThroughTheLinesTypedSince) {
  nbrun::Session session(nullptr);
  RecordingHost host;
  EXPECT_EQ(Typed(session, host,
                  {"SetVar \"n\" \"0\"", ":again", "Math \"[n]+1\" \"0\" \"[n]\"", "Print \"n=[n]\"",
                   "If \"[n]\" \"<\" \"3\"", "  GotoLine \"again\"", "EndIf", "Print \"done\"",
                   "GotoLine \"later\"", ":again"}),
            "0\n0\n0\n0\n0+\n0+\n0\n0\n2 line 9: GotoLine: there is no label :later\n"
            "2 line 10: the label :again is already on line 2\n");
  EXPECT_EQ(host.log, "n=1 n=2 n=3 done ");
  EXPECT_TRUE(nbrun::IsQuit("quit") && nbrun::IsQuit(" QUIT ") && nbrun::IsQuit("Quit\t"));
  EXPECT_FALSE(nbrun::IsQuit("exit") || nbrun::IsQuit("quit now") || nbrun::IsQuit(""));
}

// Each Expect carried out is reported with its place and, where the line
// runs more than once (a loop, a jump back), how many times it has run.
TEST(Running, ExpectationsAreReportedWithTheirPass) {
  RecordingHost host;
  std::string message;
  EXPECT_EQ(RunText("Expect \"a\" \"a\"\n"
                    "Loop \"1\" \"2\" \"[i]\"\n"
                    "  If \"[i]\" \"=\" \"2\"\n"
                    "    Expect \"[i]\" \"2\"\n"
                    "  EndIf\n"
                    "EndLoop\n"
                    "SetVar \"n\" \"0\"\n"
                    ":again\n"
                    "Math \"[n]+1\" \"0\" \"[n]\"\n"
                    "Expect \"x\" \"x\"\n"
                    "If \"[n]\" \"<\" \"2\"\n"
                    "  GotoLine \"again\"\n"
                    "EndIf\n"
                    "Expect \"[n]\" \"3\"\n"
                    "Expect \"never\" \"run\"\n",
                    host, message),
            Outcome::ExpectFailed);
  EXPECT_EQ(host.expects, "t.nbs:1#0+ t.nbs:4#1+ t.nbs:10#0+ t.nbs:10#2+ t.nbs:14#0- ");
  EXPECT_EQ(message, "t.nbs:14: expected [n] to read \"3\", it reads \"2\"");
}

}  // namespace
