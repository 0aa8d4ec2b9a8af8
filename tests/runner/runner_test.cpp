// nbrun.exe end to end: the catalogue listing, clear messages for what it
// cannot run, expectations and their exit codes, the prompt, the example
// scripts, --max-seconds, device dialogues on a pty pair, the spy's log of a
// dialogue and the devices it plays from files, against both editions.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <climits>

#include "host/nbhost.h"
#include "host/runner/script.h"
#include "host/runner/warnings.h"
#include "wire/spy_log.h"
#include "peer.h"
#include "scripted_peer.h"
#include "support/paths.h"

namespace {

struct Outcome {
  DWORD exitCode = 0;
  std::string out;  // stdout and stderr together, lines ended by LF
};

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string WriteScratch(const std::string& name, const std::string& text) {
  const std::string path = wltest::ScratchDir("runner") + "\\" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// Runs nbrun.exe with `arguments` and `input` on its standard input; a run
// that does not end within 30 s is killed and fails the test.
Outcome RunNbrun(const std::string& arguments, const std::string& input = std::string()) {
  const std::string inPath = WriteScratch("stdin.txt", input);
  const std::string outPath = wltest::ScratchDir("runner") + "\\stdout.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE in = CreateFileA(inPath.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING,
                          0, nullptr);
  HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION process{};
  std::string command = "\"" + wltest::OutputFile("nbrun.exe") + "\" " + arguments;
  Outcome run;
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start nbrun.exe: " << GetLastError();
  } else {
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 99);
      ADD_FAILURE() << "nbrun.exe did not end: " << arguments;
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(in);
  CloseHandle(out);
  // The console's text mode ends lines with CR LF; values show a CR as \r.
  for (char c : ReadAll(outPath)) {
    if (c != '\r') run.out += c;
  }
  return run;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class Runner : public ::testing::TestWithParam<const char*> {
 protected:
  std::string plugIn() const { return Quoted(wltest::OutputFile(GetParam())); }
};

TEST_P(Runner, ListsEveryActionUnderItsCategory) {
  nbhost::PlugIn host;
  std::string error;
  ASSERT_TRUE(host.load(wltest::OutputFile(GetParam()), &error)) << error;
  host.registerPlugIn();
  const Outcome run = RunNbrun("--list " + plugIn());
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  int actions = 0;
  for (const nbhost::Registration& entry : host.registrations()) {
    if (entry.number == 0) {
      EXPECT_NE(run.out.find("\n" + entry.name + "\n"), std::string::npos) << entry.name;
    } else {
      ++actions;
      EXPECT_NE(run.out.find(" " + entry.name + " "), std::string::npos) << entry.name;
    }
  }
  EXPECT_NE(run.out.find(std::to_string(actions) + " actions"), std::string::npos) << run.out;
  EXPECT_EQ(actions, std::string(GetParam()) == "Wirelet.nbp" ? 33 : 26);
}

TEST_P(Runner, ScriptsRunStatementsAndStopAtAFailedExpectation) {
  const std::string script = WriteScratch("expect.nbs",
                                          "# port 16 is never open here\r\n"
                                          "SetVar \"[port]\" \"16\"\r\n"
                                          "wlCommRxCount \"[port],waiting\"\r\n"
                                          "Expect \"[waiting]\" \" 0\"\r\n"
                                          "Print \"error was [wlCommErr]\"\r\n"
                                          "Expect \"[wlCommErr]\" \" 0\"\r\n"
                                          "Print \"never printed\"\r\n");
  const Outcome run = RunNbrun("--trace " + plugIn() + " " + Quoted(script));
  EXPECT_EQ(run.exitCode, 1u) << run.out;
  EXPECT_NE(run.out.find("wlCommErr = \" 52\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("error was  52"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(":6: expected [wlCommErr] to read \" 0\", it reads \" 52\""),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("> wlCommRxCount ("), std::string::npos) << run.out;  // the trace
  EXPECT_EQ(run.out.find("never printed"), std::string::npos) << run.out;
}

TEST_P(Runner, ClearMessagesForWhatCannotRun) {
  // Found when the script is loaded: nothing runs.
  Outcome run = RunNbrun(plugIn() + " " + Quoted(WriteScratch("bad.nbs", "Print \"ran\"\n\nwlCommSnd \"1\"\n")));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("bad.nbs:3: no loaded plug-in has an action wlCommSnd"), std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("ran\n"), std::string::npos) << run.out;
  run = RunNbrun(plugIn() + " " +
                 Quoted(WriteScratch("zero.nbs", std::string("Print \"ran\"\r\nPrint \"a\0b\"\r\n", 26))));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("zero.nbs:2: a NUL byte at column 9"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("ran\n"), std::string::npos) << run.out;
  run = RunNbrun(plugIn() + " " + Quoted(WriteScratch("wide.nbs", std::string("\xFF\xFEP\0", 4))));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("wide.nbs: the script is saved as UTF-16"), std::string::npos) << run.out;

  run = RunNbrun(plugIn() + " " +
                 Quoted(WriteScratch("quote.nbs", "Print \"ran\"\nwlCommSend \"1,abc\n")));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("quote.nbs:2: a double quote is never closed"), std::string::npos)
      << run.out;
  run = RunNbrun(plugIn() + " " +
                 Quoted(WriteScratch(
                     "blocks.nbs", "Print \"ran\"\nLoop \"1\" \"2\" \"[i]\"\nEndLoop\nEndLoop\n")));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("blocks.nbs:4: EndLoop without Loop"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("ran\n"), std::string::npos) << run.out;

  // A file the runner cannot read says why.
  run = RunNbrun(plugIn() + " " + Quoted(wltest::ScratchDir("runner") + "\\missing.nbs"));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("missing.nbs: error 2, no such file or device"), std::string::npos) << run.out;
  run = RunNbrun("--device COM1=" + Quoted(wltest::ScratchDir("runner") + "\\none\\x.dev") + " " + plugIn());
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_TRUE(Has(run.out, "cannot read the device file ")) << run.out;
  EXPECT_TRUE(Has(run.out, "x.dev: error 3, no such folder")) << run.out;
  run = RunNbrun("--results " + Quoted(wltest::ScratchDir("runner") + "\\none\\r.xml") + " " + plugIn());
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_TRUE(Has(run.out, "nbrun: cannot write the results ")) << run.out;
  EXPECT_TRUE(Has(run.out, "r.xml: error 3, no such folder")) << run.out;

  // Names Windows takes for devices are refused before anything is opened:
  // com2.dev would read a real port, con.nbs the console, nul.log nothing.
  const std::string dir = wltest::ScratchDir("runner") + "\\";
  const std::string good = Quoted(WriteScratch("fine.nbs", "Print \"ran\"\n"));
  const std::pair<std::string, std::string> devices[] = {
      {"--device COM1=" + Quoted(dir + "com2.dev") + " " + plugIn() + " " + good, "com2.dev"},
      {"--device COM1=" + Quoted(dir + "NUL") + " " + plugIn() + " " + good, "NUL"},
      {"--spy=" + Quoted(dir + "aux.log") + " " + plugIn() + " " + good, "aux.log"},
      {"--results " + Quoted(dir + "Con .xml") + " " + plugIn() + " " + good, "Con .xml"},
      {plugIn() + " " + Quoted(dir + "lpt\xC2\xB9.nbs"), ".nbs"},
      {"--view " + Quoted(dir + "prn.tar.gz") + " " + plugIn(), "prn.tar.gz"},
  };
  for (const auto& c : devices) {
    run = RunNbrun(c.first);
    EXPECT_EQ(run.exitCode, 2u) << c.first;
    EXPECT_TRUE(Has(run.out, c.second + ": error 123, not a file's name")) << run.out;
    EXPECT_FALSE(Has(run.out, "ran\n")) << run.out;
  }
}

// --check reads plug-ins, device files and the script and runs nothing;
// --quiet prints what the script prints and no variable. The documents'
// fragments and outputs are checked with these two.
TEST_P(Runner, CheckRunsNothingAndQuietPrintsOnlyWhatTheScriptPrints) {
  const std::string good = Quoted(WriteScratch("good.nbs", "Print \"printed\"\nwlCommRxCount \"16,n\"\n"));
  Outcome run = RunNbrun("--check " + plugIn() + " " + good);
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  EXPECT_TRUE(Has(run.out, "good.nbs: no mistake found; nothing ran")) << run.out;
  EXPECT_FALSE(Has(run.out, "printed") || Has(run.out, "wlCommErr")) << run.out;
  run = RunNbrun("--check " + plugIn() + " " + Quoted(WriteScratch("bad.nbs", "Print \"ran\"\nwlCommSnd \"1\"\n")));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_TRUE(Has(run.out, "bad.nbs:2: no loaded plug-in has an action wlCommSnd")) << run.out;
  const std::string device = WriteScratch("bad.dev", "on \"W\" reply \"1\"\n");
  run = RunNbrun("--check --device " + Quoted("COM1=" + device) + " " + plugIn());
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_TRUE(Has(run.out, "bad.dev line 1: expected send, silent or close")) << run.out;

  run = RunNbrun("--quiet " + plugIn() + " " + good);
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  EXPECT_EQ(run.out, "printed\n");
}

TEST(RunnerFiles, ClearMessagesForFilesThatAreNoPlugIn) {
  Outcome run = RunNbrun("--list " + Quoted(WriteScratch("text.nbp", "not a library")));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("is not a plug-in library"), std::string::npos) << run.out;

  run = RunNbrun("--list " + Quoted(wltest::ScratchDir("runner") + "\\absent.nbp"));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("cannot find"), std::string::npos) << run.out;

  run = RunNbrun("--list C:\\windows\\system32\\version.dll");
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("does not export _nbEditAction@8"), std::string::npos) << run.out;

  // A bad option says what was wrong, then the usage of that option alone
  // and where the rest is.
  for (const auto& bad : std::vector<std::vector<std::string>>{
           {"--no-such-option x.nbp", "nbrun: there is no option --no-such-option\n",
            "usage: nbrun [options] PLUGIN.nbp"},
           {"--res r.xml x.nbp", "nbrun: there is no option --res: --results?\n", "  --results FILE  "},
           {"--max-seconds 0 x.nbp",
            "nbrun: --max-seconds takes a whole number of seconds from 1 to 1000000, not \"0\"\n",
            "usage: nbrun --max-seconds N ... PLUGIN.nbp... [SCRIPT]\n  --max-seconds N  "},
           {"--max-seconds=soon x.nbp", "not \"soon\"\n", "  --max-seconds N "},
           {"x.nbp --max-seconds", "nbrun: --max-seconds needs a value\n", "  --max-seconds N "},
           {"--set port x.nbp", "nbrun: --set takes NAME=VALUE, not \"port\"\n", "  --set NAME=VALUE "},
           {"--set =3 x.nbp", "nbrun: --set takes NAME=VALUE, not \"=3\"\n", "  --set NAME=VALUE "},
           {"--device LPT1=x.dev x.nbp",
            "nbrun: --device takes PLACE=FILE, a port (COM1, COM12) or a server "
            "(127.0.0.7:5000), not \"LPT1=x.dev\"\n",
            "  --device PLACE=FILE"},
           {"--device COM1=a.dev --device com1=b.dev x.nbp",
            "nbrun: a second --device for the place of \"com1=b.dev\"", "  --device PLACE=FILE"},
           {"--trace", "nbrun: name a plug-in\n", "usage: nbrun [options] PLUGIN.nbp"}}) {
    run = RunNbrun(bad[0]);
    EXPECT_EQ(run.exitCode, 2u) << bad[0];
    EXPECT_TRUE(Has(run.out, bad[1]) && Has(run.out, bad[2])) << bad[0] << "\n" << run.out;
    EXPECT_TRUE(Has(run.out, "nbrun --help shows every option\n")) << run.out;
    EXPECT_FALSE(Has(run.out, "--spy-to-device")) << run.out;  // not every option
  }
  // --help: every option and the exit codes.
  run = RunNbrun("--help");
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  for (const char* part : {"  --strict ", "  --results FILE ", "  --spy-to-device LOG ", "or with --strict a warning",
                           "5 the runner failed"}) {
    EXPECT_TRUE(Has(run.out, part)) << part << "\n" << run.out;
  }
}

// Faulty.nbp's actions crash and take the address space: whatever fails,
// the run ends with 5 and says what happened, in which module and offset,
// and on which line. (Under emulation the exception's name may differ
// from the one Windows gives, so its place is what is checked.)
TEST(RunnerFailures, CrashesAndExhaustedMemoryEndWithFiveAndTheLine) {
  const std::string faulty = Quoted(WL_FAULTY);
  for (const char* action : {"crash", "overflow"}) {
    const std::string script = WriteScratch(std::string(action) + ".nbs",
                                            "Print \"before\"\n" + std::string(action) +
                                                " \"\"\nPrint \"after\"\n");
    const Outcome run = RunNbrun(faulty + " " + Quoted(script));
    EXPECT_EQ(run.exitCode, 5u) << action << "\n" << run.out;
    EXPECT_NE(run.out.find("before\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("after\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("nbrun: the runner failed while " + script + ":2 ran: "),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(") at Faulty.nbp+0x"), std::string::npos) << run.out;
  }
  // With no address space left, the runner's own allocation fails: the
  // ports are still closed, as at every end of a run.
  const std::string script = WriteScratch("hog.nbs",
                                          "hog \"\"\nSetVar \"x\" \"0123456789abcdef\"\n"
                                          "Loop \"1\" \"40\" \"[i]\"\n  SetVar \"x\" \"[x][x]\"\n"
                                          "EndLoop\nPrint \"never\"\n");
  const Outcome run = RunNbrun(faulty + " " + Quoted(script));
  EXPECT_EQ(run.exitCode, 5u) << run.out;
  EXPECT_NE(run.out.find("nbrun: the runner failed while " + script + ":4 ran: out of memory\n"
                         "nbrun: the plug-ins' ports and TCP connection are closed\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("never"), std::string::npos) << run.out;
}

TEST_P(Runner, ThePromptRunsBlocksAndLabelsAndEndsAsAScriptDoes) {
  Outcome run = RunNbrun("--set [PORT]=16 " + plugIn(),
                         "wlCommRxCount \"[port],n\"\nwlNoSuch\nPrint \"n is [N]\"\n"
                         "If \"1\" \"=\" \"2\"\n  Print \"body\"\nEndIf\n"
                         "If \"1\" \"=\" \"2\"\n  Print \"unfinished\"\nElse\n"
                         "  Pause \"soon\"\n  Print \"else\"\nEndIf\n"
                         "SetVar \"[tries]\" \"0\"\n:again\nMath \"[tries]+1\" \"0\" \"[Tries]\"\n"
                         "If \"[TRIES]\" \"<\" \"3\"\n  GotoLine \"again\"\nEndIf\n"
                         "Print \"tries: [tries]\"\nexit\n  QUIT  \nPrint \"after quit\"\n");
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  for (const char* part : {"n = \" 0\"", "line 2: no loaded plug-in has an action wlNoSuch",
                           "n is  0", "line 10: Pause: \"soon\" is not a number of milliseconds",
                           "> else\n", "tries: 3", "line 20: no loaded plug-in has an action exit"}) {
    EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
  }
  for (const char* never : {"body", "unfinished", "after quit"}) {
    EXPECT_EQ(run.out.find(never), std::string::npos) << never << "\n" << run.out;
  }
  // A failed Expect ends the prompt with 1; a block the input leaves open
  // does not run.
  run = RunNbrun(plugIn(), "Expect \"a\" \"b\"\nPrint \"after\"\n");
  EXPECT_EQ(run.exitCode, 1u) << run.out;
  EXPECT_NE(run.out.find("line 1: expected a to read \"b\", it reads \"a\""), std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("after"), std::string::npos) << run.out;
  run = RunNbrun(plugIn(), "Loop \"1\" \"2\" \"[i]\"\nPrint \"in [i]\"\n");
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  EXPECT_NE(run.out.find("line 1: Loop without EndLoop (the block did not run)"), std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("in "), std::string::npos) << run.out;
}

TEST_P(Runner, ScriptsSavedByNotepadRunAndVariableNamesIgnoreCase) {
  // A byte order mark and lines ended by a lone CR (as some editors save).
  const std::string script = WriteScratch(
      "notepad.nbs",
      "\xEF\xBB\xBFwlCommRxCount \"[Port],Waiting\"\rExpect \"[WAITING]\" \" 0\"\r"
      "Expect \"[wlcommerr]\" \" 52\"\rSetVar \"Reading\" \"12\"\r\nPrint \"[reading] at [PORT]\"");
  const Outcome run = RunNbrun("--set \"[port]=16\" " + plugIn() + " " + Quoted(script));
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  EXPECT_NE(run.out.find("Waiting = \" 0\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n12 at 16\n"), std::string::npos) << run.out;
}

TEST_P(Runner, TheStatementsExampleHoldsWhatTheGuideSays) {
  const Outcome run =
      RunNbrun(plugIn() + " " + Quoted(std::string(WL_EXAMPLES) + "\\statements.nbs"));
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  EXPECT_NE(run.out.find("-- every statement behaved as the guide says"), std::string::npos)
      << run.out;
}

TEST(RunnerLimits, MaxSecondsEndsALoopThatNeverEnds) {
  const std::string script =
      WriteScratch("forever.nbs", "While \"1\" \"=\" \"1\"\n  Pause \"20\"\nEndWhile\n");
  const Outcome run = RunNbrun("--max-seconds 1 " + Quoted(wltest::OutputFile("Wirelet.nbp")) +
                               " " + Quoted(script));
  EXPECT_EQ(run.exitCode, 3u) << run.out;
  EXPECT_NE(run.out.find("stopped: the run took longer than --max-seconds 1"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("ports and TCP connection are closed"), std::string::npos) << run.out;
}

// Every way a run ends, on its last line, with a port and the connection
// left open: both are closed through the plug-in's own wlCommClose and
// wlTCPclose (the spy sees the port get its time-outs back and close, and
// the socket close; the process's end would only drop them), the line that
// ran is named and the exit code is the documented one.
TEST_P(Runner, EveryEndClosesWhatWasOpenAndNamesTheLineThatRan) {
  const std::string device = WriteScratch("ends.dev", "on \"W\" send \"ST,GS,+0012.34 kg\"\n");
  // A request the device never answers: nothing waits in the port.
  const std::string open = "wlTCPopen \"127.0.0.1,[tcpport],3072\"\nwlCommOpenStd \"1,9600\"\n"
                           "wlCommSendCRLF \"1,HELLO\"\n";
  const struct {
    const char* last;
    const char* options;
    DWORD exitCode;
    const char* message;
  } ends[] = {
      {"Print \"done\"", "", 0, ""},
      {"Expect \"[wlCommErr]\" \"1\"", "", 1, ":4: expected [wlCommErr] to read \"1\""},
      {"Math \"1/[wlCommErr]\" \"0\" \"[x]\"", "", 2, ":4: Math: cannot read \"1/ 0\""},
      {"Pause \"20000\"", "--max-seconds 1 ", 3,
       ":4: stopped: the run took longer than --max-seconds 1"},
      // An action that outlasts the limit (a receive nothing answers) ends
      // as it would, then the run.
      {"wlCommRxLine \"1,nothing,150\"", "--max-seconds 1 ", 3,
       ":4: stopped: the run took longer than --max-seconds 1"},
  };
  for (const auto& end : ends) {
    tcptest::ScriptedPeer service([](tcptest::ScriptedPeer& peer) { peer.clientClosed(30000); });
    const std::string script = WriteScratch("ends.nbs", open + end.last + "\n");
    const std::string log = wltest::ScratchDir("runner") + "\\ends.log";
    const Outcome run = RunNbrun(std::string(end.options) + "--set tcpport=" +
                                 std::to_string(service.port()) + " --spy=" + Quoted(log) +
                                 " --device COM1=" + Quoted(device) + " " + plugIn() + " " +
                                 Quoted(script));
    EXPECT_EQ(run.exitCode, end.exitCode) << end.last << "\n" << run.out;
    EXPECT_TRUE(Has(run.out, end.message)) << end.message << "\n" << run.out;
    EXPECT_EQ(Has(run.out, "ports and TCP connection are closed"), end.exitCode != 0) << run.out;
    const std::string spied = ReadAll(log);
    const size_t close = spied.find("COM1   close: ok");
    EXPECT_NE(close, std::string::npos) << end.last << "\n" << spied;
    // The plug-in's own close: the port gets its time-outs back first.
    EXPECT_LT(spied.rfind("COM1   time-outs", close), close) << spied;
    EXPECT_TRUE(Has(spied, "TCP    connect 127.0.0.1:")) << spied;
    EXPECT_TRUE(Has(spied, "TCP    close: ok")) << end.last << "\n" << spied;
  }
}

// Reads and drops what waits at a port, so a test starts on a clean line.
void Drain(const char* name) {
  HANDLE port =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << name << " " << GetLastError();
  COMMTIMEOUTS quick = {MAXDWORD, 0, 0, 0, 2000};
  SetCommTimeouts(port, &quick);
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(port, buffer, sizeof buffer, &n, nullptr) && n > 0) {
  }
  CloseHandle(port);
}

// A scale on COM7: its answer waits in the port before the script asks.
TEST_P(Runner, ADeviceDialogueOnAPort) {
  Drain("COM7");
  serialtest::Peer scale(7);
  ASSERT_TRUE(scale.isOpen()) << GetLastError();
  ASSERT_TRUE(scale.write("ST,GS,+0012.34 kg\r\n"));

  const std::string script = WriteScratch("scale.nbs",
                                          "wlCommOpenStd \"7,9600\"\n"
                                          "Expect \"[wlOpenCommErr]\" \" 0\"\n"
                                          "wlCommSendCRLF \"7,W\"\n"
                                          "wlCommRxLine \"7,weight,100\"\n"
                                          "Expect \"[weight]\" \"ST,GS,+0012.34 kg\"\n"
                                          "wlCommClose \"7\"\n"
                                          "Expect \"[wlCommErr]\" \" 0\"\n");
  const Outcome run = RunNbrun(plugIn() + " " + Quoted(script));
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  EXPECT_NE(run.out.find("weight = \"ST,GS,+0012.34 kg\""), std::string::npos) << run.out;
  EXPECT_EQ(scale.read(3), "W\r\n");
}

// The polling example against a scale on COM7 that lets the first request
// go unanswered and once answers with an unstable reading.
TEST_P(Runner, ThePollingExampleAsksAgainAfterATimeOutOrAnUnstableReading) {
  serialtest::Peer scale(7);
  ASSERT_TRUE(scale.isOpen()) << GetLastError();
  std::string requests;
  std::thread player([&scale, &requests] {
    for (const char* answer : {"", "ST,GS,+0001.50 kg", "ST,GS,+0001.70 kg", "US,GS,+0009.99 kg",
                               "ST,GS,+0002.10 kg", "ST,GS,+0002.70 kg"}) {
      const std::string request = scale.read(3, 20000);
      requests += request;
      if (request.size() < 3) return;
      if (*answer) scale.write(answer + std::string("\r\n"));
    }
  });
  const Outcome run =
      RunNbrun("--set port=7 " + plugIn() + " " + Quoted(std::string(WL_EXAMPLES) + "\\poll.nbs"));
  player.join();
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  EXPECT_EQ(requests, "W\r\nW\r\nW\r\nW\r\nW\r\nW\r\n");
  for (const char* line :
       {"reading 1, try 1: no answer within 2 s\n", "reading 1: 1.50 kg\n", "reading 2: 1.70 kg\n",
        "reading 3, try 1: not stable (US,GS,+0009.99 kg)\n", "reading 3: 2.10 kg\n",
        "reading 4: 2.70 kg\n", "average of 4 readings: 2.00 kg\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
  }
  // The same example against the demo scale's device file, whose readings
  // are fixed and whose every fourth one is unstable.
  const std::string examples = WL_EXAMPLES;
  const Outcome played = RunNbrun("--device " + Quoted("COM1=" + examples + "\\scale.dev") + " " +
                                  plugIn() + " " + Quoted(examples + "\\poll.nbs"));
  EXPECT_EQ(played.exitCode, 0u) << played.out;
  for (const char* line : {"reading 4, try 1: not stable (US,GS,+0012.36 kg)\n",
                           "average of 4 readings: 12.34 kg\n"}) {
    EXPECT_NE(played.out.find(line), std::string::npos) << line << played.out;
  }
}

// The scale of the dialogues below: what the test program answers on the
// far end of a pty pair, and the same as a device file.
std::string ScaleAnswer(const std::string& request) {
  if (request == "ID") return "WL-SCALE,1.0\r\n";
  if (request == "W") return "ST,GS,+0012.34 kg\r\n";
  return std::string();
}
const char kScaleDevice[] = "on \"ID\" send \"WL-SCALE,1.0\"\non \"W\" send \"ST,GS,+0012.34 kg\"\n";

// A line service first (it takes one client within 10 s), then the scale on
// COM7: a line receive, a request sent in two pieces, a request left
// unanswered; a port held by another program (COM9) and one whose every
// call fails (COM14). Each answer comes in one write and is waited for, so
// the dialogue goes the same way every time.
const char kDialogue[] =
    "wlTCPopen \"127.0.0.1,[tcpport],3072\"\n"
    "wlTCPrxline \"greeting\"\n"
    "wlTCPsendCRLF \"PING\"\n"
    "wlTCPrxline \"pong\"\n"
    "wlTCPrxline \"after\"\n"
    "wlTCPclose \"\"\n"
    "wlCommOpenStd \"7,9600\"\n"
    "wlCommSendCRLF \"7,ID\"\n"
    "wlCommRxLine \"7,identity,300\"\n"
    "wlCommRxFlush \"7\"\n"  // the LF Wirelet's line receive leaves
    "wlCommSend \"7,W\"\n"
    "wlCommSendCRLF \"7,\"\n"
    "wlCommRxS \"7,19,weight\"\n"
    "wlCommSendCRLF \"7,HELLO\"\n"
    "wlCommRxLine \"7,nothing,30\"\n"
    "wlCommClose \"7\"\n"
    "wlCommOpenStd \"9,9600\"\n"
    "wlCommOpenStd \"14,9600\"\n"
    "wlCommClose \"14\"\n";

struct Dialogue {
  Outcome run;
  std::string scaleHeard;  // what reached the far end of COM7's pty pair
};

// Runs kDialogue through nbrun with `options`; the test program plays the
// line service and, when `playScale`, the scale on COM7's pty pair.
Dialogue RunDialogue(const std::string& plugIn, const std::string& options, bool playScale) {
  tcptest::ScriptedPeer service([](tcptest::ScriptedPeer& peer) {
    peer.send("READY\r\n");
    peer.receive(6, 10000);
    peer.send("PONG\r\n");
  });
  serialtest::Peer scale(7);
  if (playScale) scale.serve(ScaleAnswer);
  const std::string script = WriteScratch("dialogue.nbs", kDialogue);
  Dialogue dialogue;
  dialogue.run = RunNbrun(options + " --set tcpport=" + std::to_string(service.port()) + " " +
                          plugIn + " " + Quoted(script));
  dialogue.scaleHeard = scale.heard();
  return dialogue;
}

// The runner's lines that show a variable being set ("  name = "value""),
// in order; the spy's lines on the same screen are left out.
std::vector<std::string> VariableLines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("  ", 0) == 0 && line.size() > 2 && line[2] != ' ' &&
        line.find(" = \"") == line.find(' ', 2)) {
      lines.push_back(line);
    }
  }
  return lines;
}

// What the spy's log shows going each way on `where`, one entry a line.
// What went each way at `where`, one entry a log line; `joined`: the
// lines of one direction in a row as one entry (a played device's bytes
// come at the port's rate, so a line receive may see them in pieces).
std::vector<std::string> Exchanges(const std::string& log, const std::string& where,
                                   bool joined = false) {
  std::vector<std::string> exchanges;
  std::istringstream in(log);
  std::string line;
  char last = ' ';
  std::string bytes;
  const auto add = [&] {
    if (last != ' ') exchanges.push_back(last + std::string(" ") + nbrun::Visible(bytes));
  };
  while (std::getline(in, line)) {
    nbspy::LogRecord record;
    if (!nbspy::ParseLogLine(line, record) || record.where != where || record.direction == ' ') continue;
    if (!joined || record.direction != last) {
      add();
      bytes.clear();
    }
    last = record.direction;
    bytes += record.bytes;
  }
  add();
  return exchanges;
}

TEST_P(Runner, TheSpyLogsADialogueAsItWentAndItsLogPlaysTheDevice) {
  const std::string log = wltest::ScratchDir("runner") + "\\spy.log";
  const Dialogue spied = RunDialogue(plugIn(), "--spy=" + Quoted(log), true);
  EXPECT_EQ(spied.run.exitCode, 0u) << spied.run.out;
  EXPECT_EQ(spied.scaleHeard, "ID\r\nW\r\nHELLO\r\n");
  const std::string text = ReadAll(log);
  // Wirelet's line receive ends at the CR and leaves the LF for the flush,
  // Quillport's takes the LF along: in a log file either is one answer.
  const std::vector<std::string> expected = {"> ID\\r\\n", "< WL-SCALE,1.0\\r\\n", "> W", "> \\r\\n",
                                             "< ST,GS,+0012.34 kg\\r\\n", "> HELLO\\r\\n"};
  EXPECT_EQ(Exchanges(text, "COM7"), expected) << text;
  EXPECT_EQ(Exchanges(text, "TCP"),
            (std::vector<std::string>{"< READY\\r\\n", "> PING\\r\\n", "< PONG\\r\\n", "< "}))
      << text;
  for (const char* event : {"COM7   open \"COM7\": ok", "COM7   settings 9600 8N1, no flow control",
                            "COM7   close: ok", "COM9   open \"COM9\": error 5,",
                            "COM14  reading the settings failed: error 1,", "TCP    connect 127.0.0.1:"}) {
    EXPECT_TRUE(Has(text, event)) << event << "\n" << text;
  }

  // The log made into a device file plays the scale as it answered.
  const Outcome made = RunNbrun("--spy-to-device COM7=" + Quoted(log));
  EXPECT_EQ(made.exitCode, 0u) << made.out;
  const std::string device = WriteScratch("replay.dev", made.out);
  const Dialogue replayed = RunDialogue(plugIn(), "--device COM7=" + Quoted(device), false);
  EXPECT_EQ(replayed.run.exitCode, 0u) << replayed.run.out;
  EXPECT_EQ(VariableLines(replayed.run.out), VariableLines(spied.run.out)) << made.out;
  EXPECT_EQ(replayed.scaleHeard, "");  // the port itself was never used
}

TEST_P(Runner, TheSpyChangesNothingThePlugInSees) {
  const Dialogue plain = RunDialogue(plugIn(), "", true);
  const Dialogue spied = RunDialogue(plugIn(), "--spy", true);
  EXPECT_EQ(plain.run.exitCode, 0u) << plain.run.out;
  EXPECT_EQ(spied.run.exitCode, 0u) << spied.run.out;
  const std::vector<std::string> values = VariableLines(plain.run.out);
  EXPECT_EQ(VariableLines(spied.run.out), values) << spied.run.out;
  // A dialogue that went well, with the refusals of COM9 and COM14.
  for (const char* value : {"pong = \"PONG\"", "identity = \"WL-SCALE,1.0\"",
                            "weight = \"ST,GS,+0012.34 kg\\r\\n\"", "wlOpenCommErr = \" 70\""}) {
    EXPECT_TRUE(Has(plain.run.out, value)) << value << "\n" << plain.run.out;
  }
  // On the screen, the bytes show before the variable they end up in.
  const size_t bytes = spied.run.out.find("<    19 \"ST,GS,+0012.34 kg\\r\\n\"");
  ASSERT_NE(bytes, std::string::npos) << spied.run.out;
  EXPECT_LT(bytes, spied.run.out.find("  weight = ")) << spied.run.out;
}

// A dialogue with the scale on COM12 (opened as \\.\COM12), once played by
// the test program on the pty pair and once by nbrun from a device file:
// the plug-in gets the same results. The last receive asks for more than
// will come: Wirelet's open keeps the port's time-outs (none: the read ends
// when the line has been quiet), Quillport's installs some, which the
// device's reads honour.
TEST_P(Runner, ADeviceFileActsAsThePortsPeerDoes) {
  const std::string script = WriteScratch("device.nbs",
                                          "wlCommOpen \"12,9600,8,0,0,4096,4096\"\n"
                                          "wlCommSetBaud \"12,19200\"\n"
                                          "wlCommGetBaud \"12,baud\"\n"
                                          "wlCommSendCRLF \"12,ID\"\n"
                                          "wlCommRxLine \"12,identity,300\"\n"
                                          "wlCommSendCRLF \"12,W\"\n"
                                          "wlCommRxLine \"12,weight,300\"\n"
                                          "SetVar \"[wlCommEof]\" \"\"\n"
                                          "wlCommSendCRLF \"12,HELLO\"\n"
                                          "wlCommRxLine \"12,nothing,30\"\n"
                                          "wlCommSendCRLF \"12,W\"\n"
                                          "wlCommRxLine \"12,again,300\"\n"
                                          "wlCommRxS \"12,40,more\"\n"
                                          "wlCommRxCount \"12,left\"\n"
                                          "wlCommClose \"12\"\n");
  const std::string device = WriteScratch("scale.dev", kScaleDevice);
  Outcome onPty, onDevice;
  {
    serialtest::Peer scale(12);
    scale.serve(ScaleAnswer);
    onPty = RunNbrun(plugIn() + " " + Quoted(script));
  }
  {
    serialtest::Peer scale(12);
    onDevice = RunNbrun("--device COM12=" + Quoted(device) + " " + plugIn() + " " + Quoted(script));
    EXPECT_EQ(scale.heard(), "");
  }
  EXPECT_EQ(onPty.exitCode, 0u) << onPty.out;
  EXPECT_EQ(onDevice.exitCode, 0u) << onDevice.out;
  EXPECT_EQ(VariableLines(onDevice.out), VariableLines(onPty.out)) << onDevice.out;
  for (const char* value : {"baud = \" 19200\"", "weight = \"ST,GS,+0012.34 kg\"", "nothing = \"\"",
                            "wlCommEof = \"1\"", "again = \"ST,GS,+0012.34 kg\""}) {
    EXPECT_TRUE(Has(onPty.out, value)) << value << "\n" << onPty.out;
  }

  // A device file with a mistake, or a device on no port, runs nothing.
  Outcome run = RunNbrun("--device COM12=" + Quoted(WriteScratch("bad.dev", "on \"W\"\n")) + " " +
                         plugIn() + " " + Quoted(script));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_TRUE(Has(run.out, "bad.dev line 1: expected send, silent or close")) << run.out;
  run = RunNbrun("--device LPT1=" + Quoted(device) + " " + plugIn());
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_TRUE(Has(run.out, "usage: nbrun")) << run.out;
}

// A played adapter pulled out mid-dialogue: the port's calls fail with the
// file's removal code, the name does not open while it is out, and once it
// is back a close and a new open talk to it again. The spy shows what the
// port did; what the plug-in makes of it is the plug-in's.
TEST_P(Runner, APlayedDeviceIsPulledOutAndPluggedInAgain) {
  const std::string device = WriteScratch(
      "pulled.dev", "on \"ID\" send \"WL\"\non \"PULL\" unplug error 1617 then plug in after 500\n");
  // Out, every action on the port reports the device gone (71) at once, a
  // line receive of 10 s included; an open while it is out fails (53); once
  // it is back the port opens again, without a close first, then with one.
  std::string gone = "wlCommSendCRLF \"12,PULL\"\n";
  for (const char* action : {"wlCommSendCRLF \"12,ID\"", "wlCommRxLine \"12,line,1000\"",
                             "wlCommRxCount \"12,n\"", "wlCommGetBaud \"12,b\"",
                             "wlCommRxS \"12,5,s\"", "wlCommSetBaud \"12,19200\""}) {
    gone += std::string(action) + "\nExpect \"[wlCommErr]\" \" 71\"\n";
  }
  const std::string script = WriteScratch("pulled.nbs",
                                          "wlCommOpenStd \"12,9600\"\n" + gone +
                                              "wlCommOpenStd \"12,9600\"\n"
                                              "Expect \"[wlOpenCommErr]\" \" 53\"\n"
                                              "Pause \"600\"\n"
                                              "wlCommOpenStd \"12,9600\"\n"
                                              "Expect \"[wlOpenCommErr]\" \" 0\"\n"
                                              "wlCommSendCRLF \"12,ID\"\n"
                                              "wlCommRxLine \"12,id,300\"\n"
                                              "Expect \"[id]\" \"WL\"\n" +
                                              gone +
                                              "wlCommClose \"12\"\n"
                                              "Expect \"[wlCommErr]\" \" 0\"\n"
                                              "Pause \"600\"\n"
                                              "wlCommOpenStd \"12,9600\"\n"
                                              "Expect \"[wlOpenCommErr]\" \" 0\"\n"
                                              "wlCommSendCRLF \"12,ID\"\n"
                                              "wlCommRxLine \"12,id,300\"\n"
                                              "Expect \"[id]\" \"WL\"\n"
                                              "wlCommClose \"12\"\n");
  const std::string log = wltest::ScratchDir("runner") + "\\pulled.log";
  const DWORD start = GetTickCount();
  const Outcome run = RunNbrun("--spy=" + Quoted(log) + " --device COM12=" + Quoted(device) + " " +
                               plugIn() + " " + Quoted(script));
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  // Two 10 s line receives that waited would take 20 s; the pauses take 1.2.
  EXPECT_LT(GetTickCount() - start, 15000u) << "an action waited on a device that is gone";
  // In this order: calls failing with the code, the open refused while it
  // is out, the open once it is back.
  const std::string text = ReadAll(log);
  size_t at = 0;
  for (const char* event : {"failed: error 1617", "open \"\\\\.\\COM12\": error 2,", "open \"\\\\.\\COM12\": ok"}) {
    at = text.find(event, at);
    EXPECT_NE(at, std::string::npos) << event << "\n" << text;
    if (at == std::string::npos) break;
  }
}

// The whole demo with both of its devices played, as tools/demo.sh --device
// runs it: the scale on COM1, the line service as a server at an address
// nothing listens on.
TEST_P(Runner, TheDemoRunsWithBothDevicesPlayed) {
  const std::string examples = WL_EXAMPLES;
  const std::string history = wltest::ScratchDir("runner") + "\\history.txt";
  DeleteFileA(history.c_str());
  const Outcome run = RunNbrun("--device " + Quoted("COM1=" + examples + "\\scale.dev") + " --device " +
                               Quoted("127.0.0.7:7000=" + examples + "\\lineservice.dev") +
                               " --set tcphost=127.0.0.7 --set tcpport=7000 --set " + Quoted("logfile=" + history) +
                               " " + plugIn() + " " + Quoted(examples + "\\demo.nbs"));
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  for (const char* line : {"scale: WL-SCALE,1.0\n", "readings: ST,GS,+0012.35 kg / ST,GS,+0012.33 kg\n",
                           "-- the line service on 127.0.0.7:7000\n", "service: READY\n", "service: OK 1\n",
                           "-- done\n"}) {
    EXPECT_TRUE(Has(run.out, line)) << line << run.out;
  }
  EXPECT_EQ(ReadAll(history), "WL-SCALE,1.0 ST,GS,+0012.35 kg\r\nWL-SCALE,1.0 ST,GS,+0012.33 kg\r\n");
}

// What the plug-ins would quietly ignore, a receive that may wait for ever
// and a device no open reaches are warnings, once a line, while the run
// goes on as before; with --strict the run stops at the first, before the
// plug-in sees it, and --check names them from the lines as written.
TEST_P(Runner, WarningsNameWhatThePlugInsIgnoreAndStrictStopsAtThem) {
  const std::string examples = WL_EXAMPLES;
  const std::string devices = "--device " + Quoted("COM1=" + examples + "\\scale.dev") + " --device " +
                              Quoted("COM5=" + examples + "\\scale.dev") + " --device " +
                              Quoted("127.0.0.7:7000=" + examples + "\\lineservice.dev") + " ";
  const std::string script = WriteScratch("warned.nbs",
                                          "wlCommOpenStd \"1,9600\"\n"
                                          "Loop \"1\" \"3\" \"[i]\"\n"
                                          "  wlCommSendCRLF \"1,W,\"\n"
                                          "EndLoop\n"
                                          "wlCommRxCount \"[far],n\"\n"
                                          "wlTCPopen \"127.0.0.7,7000,0\"\n"
                                          "wlTCPclose \"\"\n"
                                          "wlCommClose \"1\"\n"
                                          "Print \"done\"\n");
  const std::string warned = Quoted(script);
  const std::string lines[] = {
      ":3: wlCommSendCRLF takes 2 fields, \"1,W,\" has 3: the plug-in does nothing and sets no variable",
      ":5: port 300 is outside 1 to ", ":6: wlTCPopen with time-out \"0\": every receive waits without end"};
  const auto count = [](const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  };
  Outcome run = RunNbrun(devices + "--set far=300 " + plugIn() + " " + warned);
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  for (const std::string& line : lines) {
    EXPECT_EQ(count(run.out, "warned.nbs" + line), 1u) << line << "\n" << run.out;  // once a line
  }
  EXPECT_EQ(count(run.out, "nbrun: warning: "), 4u) << run.out;
  EXPECT_TRUE(Has(run.out, "nbrun: warning: --device COM5: the run never opened COM5")) << run.out;
  EXPECT_FALSE(Has(run.out, "  n = ")) << run.out;  // the plug-in did ignore it
  EXPECT_TRUE(Has(run.out, "done\n")) << run.out;

  run = RunNbrun("--strict " + devices + "--set far=300 " + plugIn() + " " + warned);
  EXPECT_EQ(run.exitCode, 2u) << run.out;
  EXPECT_TRUE(Has(run.out, "warned.nbs" + lines[0] + " (--strict)\n")) << run.out;
  EXPECT_FALSE(Has(run.out, "done\n") || Has(run.out, lines[1])) << run.out;
  // Only a device left unopened: the run goes to its end, and fails.
  run = RunNbrun("--strict --device " + Quoted("COM5=" + examples + "\\scale.dev") + " " + plugIn() + " " +
                 Quoted(WriteScratch("clean.nbs", "Print \"done\"\n")));
  EXPECT_EQ(run.exitCode, 2u) << run.out;
  EXPECT_TRUE(Has(run.out, "done\n") && Has(run.out, "is a mistake with --strict")) << run.out;

  // --check from the lines as written: [far] is only known with --set.
  run = RunNbrun("--check " + devices + plugIn() + " " + warned);
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  EXPECT_TRUE(Has(run.out, "warned.nbs: no mistake found, 3 warnings; nothing ran")) << run.out;
  EXPECT_TRUE(Has(run.out, "nbrun: warning: --device COM5: no line of the script opens COM5")) << run.out;
  run = RunNbrun("--check --strict --set far=300 " + devices + plugIn() + " " + warned);
  EXPECT_EQ(run.exitCode, 2u) << run.out;
  EXPECT_TRUE(Has(run.out, lines[1])) << run.out;
  EXPECT_TRUE(Has(run.out, "nbrun: warnings are mistakes with --strict")) << run.out;
}

// Runs `script` against `device` played on COM12; the run must pass its
// Expect lines.
void ExpectPlayedRun(const std::string& plugIn, const std::string& device, const std::string& script) {
  const Outcome run = RunNbrun("--device COM12=" + Quoted(WriteScratch("line.dev", device)) + " " + plugIn +
                               " " + Quoted(WriteScratch("line.nbs", script)));
  EXPECT_EQ(run.exitCode, 0u) << device << "\n" << script << "\n" << run.out;
}

// A played device's random choices start from --seed: the same seed, the
// same bytes; the spy's log says which seed and each fault it played.
TEST_P(Runner, PlayedFaultsRepeatWithTheirSeedAndTheLogSaysSo) {
  const std::string device = Quoted(WriteScratch("seeded.dev", "seed 9\nanswers garble 1 in 2\non \"W\" send \"ABCDEFGH\"\n"));
  std::string script = "wlCommOpenStd \"12,9600\"\n";
  for (int k = 0; k < 8; ++k) script += "wlCommSendCRLF \"12,W\"\nwlCommRxLine \"12,a,1000\"\nPrint \"[a]\"\n";
  const std::string nbs = Quoted(WriteScratch("seeded.nbs", script));
  const std::string log = wltest::ScratchDir("runner") + "\\seeded.log";
  const auto run = [&](const std::string& options) {
    return RunNbrun("--quiet " + options + " --device COM12=" + device + " " + plugIn() + " " + nbs);
  };
  const Outcome first = run("--seed 5 --spy=" + Quoted(log));
  EXPECT_EQ(first.exitCode, 0u) << first.out;
  EXPECT_EQ(run("--seed 5").out, first.out);
  EXPECT_NE(run("--seed 6").out, first.out);
  EXPECT_EQ(run("").out, run("--seed 9").out);  // the file's own seed
  EXPECT_NE(first.out.find("ABCDEFGH\n"), std::string::npos) << first.out;  // some come whole
  const std::string text = ReadAll(log);
  EXPECT_TRUE(Has(text, "COM12  played: seed 5")) << text;
  EXPECT_TRUE(Has(text, "COM12  played: garbled byte ")) << text;
  EXPECT_NE(RunNbrun("--seed 4294967296 " + plugIn()).out.find("--seed takes a whole number"), std::string::npos);
}

// A device's line errors reach the script as the plug-ins report them:
// framing and overrun as 57, once, parity and break not at all; the line
// that came with them is read either way.
TEST_P(Runner, APlayedDevicesLineErrorsGive57ForFramingAndOverrunOnly) {
  const char* const faults[][2] = {{"framing", " 57"}, {"overrun", " 57"}, {"parity", " 0"}, {"break", " 0"}};
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault[0]);
    ExpectPlayedRun(plugIn(), std::string("on \"F\" fault ") + fault[0] + "\non \"W\" send \"1.0\"\n",
                    "wlCommOpenStd \"12,9600\"\n"
                    "wlCommSendCRLF \"12,F\"\n"
                    "wlCommSendCRLF \"12,W\"\n"
                    "wlCommRxLine \"12,a,1000\"\n"
                    "Expect \"[a]\" \"1.0\"\n"
                    "Expect \"[wlCommErr]\" \"" + std::string(fault[1]) + "\"\n"
                    "wlCommSendCRLF \"12,W\"\n"
                    "wlCommRxLine \"12,a,1000\"\n"
                    "Expect \"[wlCommErr]\" \" 0\"\n");
  }
}

// Wirelet's flow control and DTR actions against a device's modem lines:
// CTS held low stalls a send until the device raises it (or for the
// plug-in's bound, 69); a board resets when DTR comes back after a drop.
TEST_P(Runner, APlayedDevicesModemLinesHoldSendsAndDtrResetsIt) {
  if (std::string(GetParam()) != "Wirelet.nbp") GTEST_SKIP() << "Wirelet's actions only";
  const std::string send = "wlCommOpenStd \"12,9600\"\n"
                           "wlCommSetCTSflow \"12,1\"\n"
                           "wlCommSendCRLF \"12,W\"\n";
  ExpectPlayedRun(plugIn(), "at 0 modem cts off\nat 1000 modem cts on\non \"W\" send \"1.0\"\n",
                  send + "Expect \"[wlCommErr]\" \" 0\"\n"
                         "wlCommRxLine \"12,a,1000\"\n"
                         "Expect \"[a]\" \"1.0\"\n");
  ExpectPlayedRun(plugIn(), "at 0 modem cts off\non \"W\" send \"1.0\"\n",
                  send + "Expect \"[wlCommErr]\" \" 69\"\n"
                         "wlCommSetCTSflow \"12,0\"\n"
                         "wlCommSendCRLF \"12,W\"\n"
                         "wlCommRxLine \"12,a,1000\"\n"
                         "Expect \"[a]\" \"1.0\"\n");
  ExpectPlayedRun(plugIn(),
                  "at 0 send \"BOOT v1\"\non dtr off send \"NO CARRIER\"\non dtr on restart\n",
                  "wlCommOpenStd \"12,9600\"\n"
                  "wlCommRxLine \"12,a,1000\"\n"
                  "Expect \"[a]\" \"BOOT v1\"\n"
                  "wlCommSetDTRflow \"12,0\"\n"
                  "wlCommRxLine \"12,b,1000\"\n"
                  "Expect \"[b]\" \"NO CARRIER\"\n"
                  "wlCommSetDTRflow \"12,1\"\n"
                  "wlCommRxLine \"12,c,1000\"\n"
                  "Expect \"[c]\" \"BOOT v1\"\n"
                  // Down and up again before anyone reads: the restart drops the answer.
                  "wlCommSetDTRflow \"12,0\"\n"
                  "wlCommSetDTRflow \"12,1\"\n"
                  "wlCommRxLine \"12,d,1000\"\n"
                  "Expect \"[d]\" \"BOOT v1\"\n"
                  "wlCommRxLine \"12,e,300\"\n"
                  "Expect \"[e]\" \"\"\n");
}

// A played server that refuses its first two connects and resets the
// connection on request, and one that never answers: what the script sees
// of each.
TEST_P(Runner, APlayedServerRefusesThenResets) {
  const std::string device = WriteScratch("refusing.dev", "refuse first 2\nat 0 send \"READY\"\n"
                                                          "on \"KILL\" send \"BYE\" reset\n");
  const std::string script = WriteScratch(
      "refusing.nbs",
      "wlTCPopen \"127.0.0.7,7010,1024\"\n"
      "Expect \"[wlTcpErr]\" \" 57\"\n"
      "wlTCPopen \"127.0.0.7,7010,0\"\n"
      "Expect \"[wlTcpErr]\" \" 57\"\n"
      "wlTCPopen \"127.0.0.7,7010,1024\"\n"
      "Expect \"[wlTcpErr]\" \" 0\"\n"
      "wlTCPrxline \"a\"\n"
      "Expect \"[a]\" \"READY\"\n"
      "wlTCPsendCRLF \"KILL\"\n"
      "wlTCPrxline \"b\"\n"
      "Expect \"[b]\" \"BYE\"\n"
      "wlTCPrxline \"c\"\n"
      "Expect \"[wlTcpErr]\" \" 57\"\n"
      "wlTCPsendCRLF \"more\"\n"
      "Expect \"[wlTcpErr]\" \" 57\"\n"
      "wlTCPclose \"\"\n"
      // One that accepts and never answers: the time-out.
      "wlTCPopen \"127.0.0.7,7011,256\"\n"
      "Expect \"[wlTcpErr]\" \" 0\"\n"
      "wlTCPrxline \"d\"\n"
      "Expect \"[wlTcpErr]\" \" 24\"\n"
      "wlTCPclose \"\"\n");
  const Outcome run = RunNbrun("--device " + Quoted("127.0.0.7:7010=" + device) + " --device " +
                               Quoted("127.0.0.7:7011=" + WriteScratch("silent.dev", "silent device\n")) + " " +
                               plugIn() + " " + Quoted(script));
  EXPECT_EQ(run.exitCode, 0u) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Editions, Runner, ::testing::Values("Wirelet.nbp", "Quillport.nbp"));

// The field counts the runner warns of are the plug-ins' own: every comm
// action that splits its parameter has its entry, a count outside it makes
// the action set nothing, and the count it takes makes it report (on port
// 16, which leads nowhere in the rig).
TEST(RunnerWarnings, TheFieldCountsAreThoseOfBothEditions) {
  for (const char* edition : {"Wirelet.nbp", "Quillport.nbp"}) {
    nbhost::PlugIn plugIn;
    std::string error;
    ASSERT_TRUE(plugIn.load(wltest::OutputFile(edition), &error)) << error;
    plugIn.registerPlugIn();
    for (const nbhost::Registration& entry : plugIn.registrations()) {
      if (entry.number == 0) continue;
      const nbrun::ActionFields* fields = nbrun::FieldsOf(entry.name);
      const bool splits = entry.name.rfind("wlComm", 0) == 0 || entry.name == "wlTCPopen";
      ASSERT_EQ(fields != nullptr, splits) << edition << " " << entry.name;
      if (!fields) continue;
      const auto text = [&](int count) {
        std::string parameters = entry.name == "wlTCPopen" ? "127.0.0.1" : "16";
        for (int k = 1; k < count; ++k) parameters += std::string(*fields->delimiter ? fields->delimiter : ",") + "0";
        return parameters;
      };
      for (int count : {fields->least - 1, fields->most == INT_MAX ? 0 : fields->most + 1}) {
        if (count < 1) continue;
        plugIn.clearLog();
        plugIn.exec(entry.name, text(count));
        EXPECT_TRUE(plugIn.variableLog().empty()) << edition << " " << entry.name << " " << text(count);
        EXPECT_FALSE(nbrun::QuietlyIgnored(entry.name, text(count)).empty()) << entry.name;
      }
      if (entry.name == "wlTCPopen") continue;  // it would connect
      plugIn.clearLog();
      plugIn.exec(entry.name, text(fields->least));
      EXPECT_FALSE(plugIn.variableLog().empty()) << edition << " " << entry.name << " " << text(fields->least);
      EXPECT_EQ(nbrun::QuietlyIgnored(entry.name, text(fields->least)), "") << entry.name;
    }
    plugIn.exec("wlCommClose", "16");
  }
}

// A run loads plug-ins as NeoBook does: all listed, each action run by the
// plug-in that names it, one store of variables. Wirebench in the script
// plays a port and a server for the comm plug-in and spies on it.
TEST(RunnerPlugIns, SeveralPlugInsShareTheirVariablesAndEachRunsItsActions) {
  const std::string wirelet = Quoted(wltest::OutputFile("Wirelet.nbp"));
  const std::string bench = Quoted(wltest::OutputFile("Wirebench.nbp"));
  Outcome run = RunNbrun("--list " + wirelet + " " + bench);
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  for (const char* line : {"\nOpen-Close\n", "33 actions\n", "Wirebench V1.0.0.0 PlugIn (Norvale)",
                           "\nWirebench\n", "    1  wbPlay ", "3 actions\n"}) {
    EXPECT_TRUE(Has(run.out, line)) << line << run.out;
  }

  const std::string log = wltest::ScratchDir("runner") + "\\bench.log";
  DeleteFileA(log.c_str());
  const std::string script = WriteScratch(
      "bench.nbs",
      "SetVar \"[device]\" \"" + WriteScratch("bench-scale.dev", kScaleDevice) + "\"\n"
      "wbSpy \"[log]\"\n"
      "wbPlay \"COM9,[device]\"\n"
      "Expect \"[wbErr]\" \" 0\"\n"
      "wlCommOpenStd \"9,9600\"\n"
      "Expect \"[wlOpenCommErr]\" \" 0\"\n"
      "wlCommSendCRLF \"9,ID\"\n"
      "wlCommRxLine \"9,identity,100\"\n"
      "Expect \"[identity]\" \"WL-SCALE,1.0\"\n"
      "wlCommClose \"9\"\n"
      "wlTCPopen \"127.0.0.7,7000,2048\"\n"
      "wlTCPrxline \"greeting\"\n"
      "Expect \"[greeting]\" \"READY\"\n"
      "wlTCPclose \"\"\n"
      "wbPlay \"COM9,\"\n"
      "wbSpy \"\"\n"
      "Expect \"[wbErrText]\" \"\"\n");
  run = RunNbrun("--device " + Quoted("127.0.0.7:7000=" + std::string(WL_EXAMPLES) + "\\lineservice.dev") +
                 " --set " + Quoted("log=" + log) + " " + wirelet + " " + bench + " " + Quoted(script));
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  EXPECT_TRUE(Has(run.out, "wbErr = \" 0\"")) << run.out;
  // The runner's played server and Wirebench's played port, both in
  // Wirebench's log: its spy stands in front of what the runner plays too.
  const std::string text = ReadAll(log);
  EXPECT_EQ(Exchanges(text, "COM9", true),
            (std::vector<std::string>{"> ID\\r\\n", "< WL-SCALE,1.0\\r\\n"}))
      << text;  // the LF never read shows at the close
  EXPECT_EQ(Exchanges(text, "TCP"), (std::vector<std::string>{"< READY\\r\\n"})) << text;
}

}  // namespace
