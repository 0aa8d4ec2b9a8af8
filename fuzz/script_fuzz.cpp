// The script loader on any file: lines cut as Notepad saves them, blocks
// matched, labels collected, literal arguments checked, action names looked
// up. Loading twice gives the same program or the same error; in a loaded
// program every block line's match is its partner (an If's Else or EndIf and
// back, a loop's end and back, an ExitLoop's loop end around it) and every
// label names its own line. The program then runs against a host that
// stops it after a bounded number of statements, and so does the prompt's
// session on the same lines: an end other than done names a line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "host/runner/program.h"
#include "host/runner/session.h"

namespace {

using nbrun::Line;
using nbrun::Outcome;
using Kind = nbrun::StatementKind;

bool KnownAction(const std::string& name) { return name.size() > 2 && name.compare(0, 2, "wl") == 0; }

// Runs anything, waits for nothing, keeps texts short, and stops a run after
// a few hundred statements so a loop that never ends still ends here.
class BoundedHost : public nbrun::Host {
 public:
  bool action(const std::string& name, const std::string&) override { return KnownAction(name); }
  void print(const std::string&) override {}
  void pause(int) override {}
  Outcome stop(std::string& why) override {
    if (++statements_ < 500) return Outcome::Done;
    why = "stopped";
    return Outcome::Interrupted;
  }
  std::string variable(const std::string& name) override { return variables_[name]; }
  void setVariable(const std::string& name, const std::string& value) override {
    variables_[name] = value.substr(0, 256);
  }

 private:
  int statements_ = 0;
  std::map<std::string, std::string> variables_;
};

void Check(bool holds) {
  if (!holds) std::abort();
}

Kind KindAt(const nbrun::Program& program, size_t at) {
  Check(at < program.lines.size());
  return program.lines[at].statement.kind;
}

// The pairs MatchBlocks promises.
void CheckMatches(const nbrun::Program& program) {
  const std::vector<Line>& lines = program.lines;
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t match = lines[i].match;
    switch (lines[i].statement.kind) {
      case Kind::If:
        Check(match > i && (KindAt(program, match) == Kind::Else || KindAt(program, match) == Kind::EndIf));
        Check(lines[match].match == i || KindAt(program, match) == Kind::Else);
        break;
      case Kind::Else:
        Check(match > i && KindAt(program, match) == Kind::EndIf && lines[match].match == i);
        break;
      case Kind::EndIf:
        Check(match < i && (KindAt(program, match) == Kind::If || KindAt(program, match) == Kind::Else));
        break;
      case Kind::While:
      case Kind::Loop: {
        const Kind end = lines[i].statement.kind == Kind::While ? Kind::EndWhile : Kind::EndLoop;
        Check(match > i && KindAt(program, match) == end && lines[match].match == i);
        break;
      }
      case Kind::EndWhile:
      case Kind::EndLoop:
        Check(match < i && lines[match].match == i);
        break;
      case Kind::ExitLoop: {
        const Kind end = KindAt(program, match);
        Check(match > i && (end == Kind::EndWhile || end == Kind::EndLoop));
        Check(lines[match].match < i);  // the loop it leaves starts before it
        break;
      }
      case Kind::Label: {
        const auto found = program.labels.find(nbrun::LowerCase(lines[i].statement.name));
        Check(found != program.labels.end() && found->second == i);
        break;
      }
      default: break;
    }
  }
  for (const auto& label : program.labels) {
    Check(KindAt(program, label.second) == Kind::Label &&
          nbrun::LowerCase(lines[label.second].statement.name) == label.first);
  }
}

bool SameProgram(const nbrun::Program& a, const nbrun::Program& b) {
  if (a.lines.size() != b.lines.size() || a.labels != b.labels) return false;
  for (size_t i = 0; i < a.lines.size(); ++i) {
    const Line &x = a.lines[i], &y = b.lines[i];
    if (x.number != y.number || x.match != y.match || x.statement.kind != y.statement.kind ||
        x.statement.name != y.statement.name || x.statement.arguments != y.statement.arguments) {
      return false;
    }
  }
  return true;
}

// An end other than done names a line: "t.nbs:12: ..." or "line 12: ...".
void CheckNamesALine(Outcome outcome, const std::string& message, const std::string& prefix) {
  if (outcome == Outcome::Done) return;
  Check(message.compare(0, prefix.size(), prefix) == 0 && message.size() > prefix.size() &&
        message[prefix.size()] >= '1' && message[prefix.size()] <= '9');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> text;
  std::string error;
  if (!nbrun::SplitScript(bytes, text, error)) return 0;

  nbrun::Program first, second;
  std::string firstError, secondError;
  const bool loaded = nbrun::Load(text, "t.nbs", 1, first, firstError, KnownAction);
  Check(nbrun::Load(text, "t.nbs", 1, second, secondError, KnownAction) == loaded);
  Check(firstError == secondError && (loaded ? firstError.empty() : firstError.rfind("t.nbs:", 0) == 0));
  if (loaded) {
    Check(SameProgram(first, second));
    CheckMatches(first);
    BoundedHost host;
    std::string message;
    CheckNamesALine(nbrun::Run(first, host, message), message, "t.nbs:");
  }

  nbrun::Session session(KnownAction);
  BoundedHost host;
  for (const std::string& line : text) {
    std::string message;
    const Outcome outcome = session.feed(line, host, message);
    CheckNamesALine(outcome, message, "line ");
    if (outcome != Outcome::Done && outcome != Outcome::Failed) break;
  }
  return 0;
}
