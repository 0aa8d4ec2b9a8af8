// nbrun.exe end to end: the catalogue listing, clear messages for what it
// cannot run, expectations and their exit codes, the prompt, the example
// scripts, --max-seconds, and device dialogues on a pty pair, against both
// editions.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "host/nbhost.h"
#include "peer.h"
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
  Outcome run = RunNbrun(plugIn() + " " + Quoted(WriteScratch("bad.nbs", "Print \"ok\"\n\nwlNoSuch \"1\"\n")));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("bad.nbs:3: the plug-in has no action named wlNoSuch"), std::string::npos)
      << run.out;

  // Found when the script is loaded: nothing runs.
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

  run = RunNbrun(plugIn() + " " + Quoted(wltest::ScratchDir("runner") + "\\missing.nbs"));
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("cannot read the script"), std::string::npos) << run.out;
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

  run = RunNbrun("--no-such-option");
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.out.find("usage: nbrun"), std::string::npos) << run.out;
}

TEST_P(Runner, ThePromptRunsOneLineAtATimeAndGoesOnAfterMistakes) {
  const Outcome run = RunNbrun("--set port=16 " + plugIn(),
                           "wlCommRxCount \"[port],n\"\nwlNoSuch\nPrint \"n is [n]\"\nquit\n");
  EXPECT_EQ(run.exitCode, 0u) << run.out;
  EXPECT_NE(run.out.find("n = \" 0\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("line 2: the plug-in has no action named wlNoSuch"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("n is  0"), std::string::npos) << run.out;
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
  EXPECT_EQ(RunNbrun("--max-seconds 0 x.nbp").exitCode, 2u);
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
}

INSTANTIATE_TEST_SUITE_P(Editions, Runner, ::testing::Values("Wirelet.nbp", "Quillport.nbp"));

}  // namespace
