// A device that vanishes mid-dialogue: the port was open and working, then
// the other end of its pty pair went away. tests/rig/vanish.sh runs this
// program, takes the peer away when told to, and checks the exit code.
// Every action must come back at once and report the device gone (71),
// never hang; the port still closes.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "host/nbhost.h"
#include "support/paths.h"

namespace {

int failures = 0;

void Expect(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok) ++failures;
}

bool WaitForFile(const std::string& path, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > milliseconds) return false;
    Sleep(20);
  }
  return true;
}

// Runs an action and returns how long it took.
DWORD Timed(nbhost::PlugIn& plugIn, const char* name, const std::string& parameters) {
  const DWORD start = GetTickCount();
  plugIn.exec(name, parameters);
  return GetTickCount() - start;
}

}  // namespace

int main() {
  nbhost::PlugIn plugIn;
  std::string error;
  if (!plugIn.load(wltest::OutputFile("Wirelet.nbp"), &error)) {
    std::printf("FAIL load: %s\n", error.c_str());
    return 2;
  }
  char *title = nullptr, *publisher = nullptr, *hint = nullptr;
  plugIn.init(&title, &publisher, &hint);
  plugIn.registerPlugIn();

  const std::string rig = wltest::RigDir();
  plugIn.exec("wlCommOpenStd", "15,9600");
  Expect(plugIn.variable("wlCommErr") == " 0", "the port opens");
  plugIn.exec("wlCommSend", "15,before");
  Expect(plugIn.variable("wlCommErr") == " 0", "a send works while the peer is there");

  std::ofstream(rig + "\\vanish.ready") << "open\n";
  if (!WaitForFile(rig + "\\vanish.gone", 20000)) {
    std::printf("FAIL the peer was never taken away\n");
    return 2;
  }

  // Generous bounds: each action must end, not be fast.
  DWORD took = Timed(plugIn, "wlCommSend", "15,after");
  Expect(plugIn.variable("wlCommErr") == " 71",
         "a send to a vanished device reports it gone: " + plugIn.variable("wlCommErr"));
  Expect(took < 15000, "the send ends");

  plugIn.variables()["n"] = "unset";
  plugIn.exec("wlCommRxCount", "15,n");
  Expect(plugIn.variable("n") == " 0", "the count reads 0");
  Expect(plugIn.variable("wlCommErr") == " 71", "the count reports the device gone: " +
                                                   plugIn.variable("wlCommErr"));

  took = Timed(plugIn, "wlCommRxS", "15,5,s");
  Expect(plugIn.variable("s").empty(), "a string receive returns nothing");
  Expect(plugIn.variable("wlCommErr") == " 71", "a string receive reports the device gone");
  Expect(took < 15000, "the string receive ends");

  plugIn.variables()["wlCommEof"] = "";
  took = Timed(plugIn, "wlCommRxLine", "15,line,500");
  Expect(plugIn.variable("wlCommErr") == " 71", "a line receive reports the device gone");
  Expect(took < 2000, "the line receive ends at once, not after its 5 s idle time-out");

  took = Timed(plugIn, "wlCommRxF", "15," + wltest::ScratchDir("vanish") + "\\rxf.bin,10");
  Expect(took < 15000, "the file receive ends");

  plugIn.exec("wlCommClose", "15");
  Expect(plugIn.variable("wlCommErr") == " 0", "the port still closes");
  plugIn.exec("wlCommRxCount", "15,n");
  Expect(plugIn.variable("wlCommErr") == " 52", "and is then no longer open");
  return failures == 0 ? 0 : 1;
}
