#include "program.h"

#include "host/runner/expression.h"

namespace nbrun {
namespace {

using Kind = StatementKind;

// A block is named by the kind that opens it (If, While, Loop).
BlockRole RoleOf(Kind kind) {
  const StatementForm* form = FormOf(kind);
  return form ? form->role : BlockRole::None;
}

// The block a line opens; an Else opens its If's second part.
Kind Opened(Kind kind) {
  const BlockRole role = RoleOf(kind);
  return role == BlockRole::Opens ? kind : role == BlockRole::Else ? FormOf(kind)->partner : Kind::Nothing;
}

// The block a line closes; an Else closes its If's first part.
Kind Closed(Kind kind) {
  const BlockRole role = RoleOf(kind);
  return role == BlockRole::Closes || role == BlockRole::Else ? FormOf(kind)->partner : Kind::Nothing;
}

std::string NameOf(Kind kind) { return FormOf(kind)->name; }
// The line that ends a block ("EndWhile").
std::string EndOf(Kind block) { return NameOf(FormOf(block)->partner); }


std::string Unreadable(const std::string& expression, const std::string& why) {
  return "cannot read " + Quoted(expression) + ": " + why;
}

// Why `value` does not pass `check`; empty text when it does.
std::string Problem(Check check, const std::string& value) {
  int number = 0;
  const bool whole = ReadWholeNumber(value, number);
  switch (check) {
    case Check::Milliseconds:
      return whole && number >= 0 ? "" : Quoted(value) + " is not a number of milliseconds";
    case Check::Operator: {
      Operator op;
      return ReadOperator(value, op)
                 ? ""
                 : Quoted(value) + " is not an operator: use =, <>, >, <, >= or <=";
    }
    case Check::WholeNumber: return whole ? "" : Quoted(value) + " is not a whole number";
    case Check::Expression: {
      const std::string why = CheckExpression(value);
      return why.empty() ? "" : Unreadable(value, why);
    }
    case Check::Decimals:
      return whole && number >= 0 && number <= 15
                 ? ""
                 : Quoted(value) + " is not a number of decimals (0 to 15)";
    case Check::Position:
      return whole && number >= 1 ? "" : Quoted(value) + " is not a position (1 or more)";
    case Check::Length:
      return whole && number >= 0 ? "" : Quoted(value) + " is not a length (0 or more)";
    case Check::Any: break;
  }
  return std::string();
}

// The first problem of the statement's arguments; `literalOnly` skips those
// that hold a [name] (at load, before variables have values).
std::string ArgumentProblem(const Statement& statement, const std::vector<std::string>& values,
                            bool literalOnly) {
  const StatementForm* form = FormOf(statement.kind);
  for (size_t k = 0; form != nullptr && k < form->arguments && k < values.size(); ++k) {
    const std::string& value = values[k];
    if (form->checks[k] == Check::Any || (literalOnly && value.find('[') != std::string::npos)) continue;
    const std::string why = Problem(form->checks[k], value);
    if (!why.empty()) return statement.name + ": " + why;
  }
  return std::string();
}

// Matches the blocks of the lines from `from` on, which close every block
// they open; sets `error` for the first that does not fit.
void MatchBlocks(Program& program, size_t from, std::string& error) {
  std::vector<Line>& lines = program.lines;
  std::vector<size_t> open;  // the lines of the blocks not yet closed
  auto fail = [&](size_t at, const std::string& why) {
    error = program.where(lines[at]) + ": " + why;
  };
  for (size_t i = from; i < lines.size(); ++i) {
    const Kind kind = lines[i].statement.kind;
    if (RoleOf(kind) == BlockRole::Leaves) {
      size_t depth = open.size();
      while (depth > 0 && lines[open[depth - 1]].statement.kind != Kind::While &&
             lines[open[depth - 1]].statement.kind != Kind::Loop) {
        --depth;
      }
      if (depth == 0) return fail(i, "ExitLoop outside Loop and While");
      lines[i].match = open[depth - 1];  // the loop's first line until its end is known
    }
    const Kind closes = Closed(kind);
    if (closes != Kind::Nothing) {
      const std::string name = NameOf(kind);
      if (open.empty()) return fail(i, name + " without " + NameOf(closes));
      Line& opener = lines[open.back()];
      const Kind found = Opened(opener.statement.kind);
      if (found != closes) {
        return fail(i, name + ", but the " + NameOf(opener.statement.kind) + " on line " +
                           std::to_string(opener.number) + " has no " + EndOf(found));
      }
      if (kind == Kind::Else && opener.statement.kind == Kind::Else) {
        return fail(i, "a second Else for the same If");
      }
      opener.match = i;
      lines[i].match = open.back();  // where EndWhile and EndLoop go back to
      open.pop_back();
    }
    if (Opened(kind) != Kind::Nothing) open.push_back(i);
  }
  if (!open.empty()) {
    const Kind kind = lines[open.back()].statement.kind;
    return fail(open.back(), NameOf(kind) + " without " + EndOf(Opened(kind)));
  }
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].statement.kind == Kind::ExitLoop) lines[i].match = lines[lines[i].match].match;
  }
}

// Whether the program has the label, and where.
bool LabelLine(const Program& program, const std::string& label, size_t* at = nullptr) {
  const auto found = program.labels.find(LowerCase(label));
  if (found == program.labels.end()) return false;
  if (at) *at = found->second;
  return true;
}

std::string NoLabel(const std::string& label) { return "GotoLine: there is no label :" + label; }

// AlertBox: in the host a message box under its title; here one line.
std::string AlertLine(const std::string& title, const std::string& message) {
  return title.empty() ? message : title + ": " + message;
}

// Which lines lie inside a While or Loop block (their matched lines are
// known once loaded).
std::vector<bool> InLoops(const Program& program) {
  std::vector<bool> inside(program.lines.size());
  for (size_t i = 0; i < program.lines.size(); ++i) {
    const Kind kind = program.lines[i].statement.kind;
    if (kind != Kind::While && kind != Kind::Loop) continue;
    for (size_t k = i + 1; k < program.lines[i].match && k < inside.size(); ++k) inside[k] = true;
  }
  return inside;
}

// A Loop's count while it runs.
struct Count {
  bool running = false;
  int current = 0, last = 0, step = 1;
};

class Interpreter;

}  // namespace

// A statement as it runs: its line, its arguments as written and with
// their [names] filled in, the variable it writes (named by its last
// argument), and the line the run goes on with.
struct Step {
  Interpreter& run;
  size_t here;  // the line's index
  const Line& line;
  const std::vector<std::string>& raw;
  std::vector<std::string> values;
  std::string target;
  size_t& at;
  std::string& why;
};

namespace {

class Interpreter {
 public:
  Interpreter(const Program& program, Host& host)
      : program(program), host(host), counts(program.lines.size()), runs(program.lines.size()),
        inLoop(InLoops(program)) {}

  Outcome run(size_t next, std::string& message) {
    while (next < program.lines.size()) {
      const Line& line = program.lines[next];
      host.running(program.where(line));
      std::string why;
      Outcome outcome = step(next, why);
      // Asked after the line, so a stop during it (a Pause cut short, an
      // action that took long) names that line, and the last line is no
      // exception.
      if (outcome == Outcome::Done) outcome = host.stop(why);
      if (outcome != Outcome::Done) {
        message = program.where(line) + ": " + why;
        return outcome;
      }
    }
    return Outcome::Done;
  }

  std::string expand(const std::string& text) {
    return Substitute(text, [this](const std::string& name) { return host.variable(name); });
  }

  // The variable an argument names, with the brackets inside its name
  // substituted: "[item[i]]" names item3 while i is 3.
  std::string name(const std::string& argument) { return expand(VariableName(argument)); }

  const Program& program;
  Host& host;
  std::vector<Count> counts;  // by the Loop line's index
  std::vector<int> runs;      // how many times each Expect line has run
  std::vector<bool> inLoop;   // by line: inside a While or Loop block

 private:
  // Runs the line at `at` by its statement's handler and moves `at` to the
  // next one to run.
  Outcome step(size_t& at, std::string& why) {
    const size_t here = at++;
    const Line& line = program.lines[here];
    const Statement& statement = line.statement;
    Step s{*this, here, line, statement.arguments, {}, std::string(), at, why};
    for (const std::string& argument : s.raw) s.values.push_back(expand(argument));
    why = ArgumentProblem(statement, s.values, false);
    if (!why.empty()) return Outcome::Failed;
    s.target = s.raw.empty() ? "" : name(s.raw.back());
    if (const StatementForm* form = FormOf(statement.kind)) return form->run(s);
    return statement.kind == Kind::Action ? RunAction(s) : Outcome::Done;
  }

  static Outcome RunAction(Step& s) {
    const Statement& statement = s.line.statement;
    if (s.run.host.action(statement.name, s.values.empty() ? "" : s.values[0])) return Outcome::Done;
    s.why = "no loaded plug-in has an action " + statement.name;
    return Outcome::Failed;
  }
};

int WholeNumber(const std::string& value) {
  int number = 0;
  ReadWholeNumber(value, number);
  return number;
}

// Sets the statement's target variable.
Outcome Set(Step& s, const std::string& value) {
  s.run.host.setVariable(s.target, value);
  return Outcome::Done;
}

Outcome RunSetVar(Step& s) {
  s.run.host.setVariable(s.run.name(s.raw[0]), s.values[1]);
  return Outcome::Done;
}

Outcome RunPrint(Step& s) {
  s.run.host.print(s.values[0]);
  return Outcome::Done;
}

Outcome RunPause(Step& s) {
  s.run.host.pause(WholeNumber(s.values[0]));
  return Outcome::Done;
}

Outcome RunExpect(Step& s) {
  const bool held = s.values[0] == s.values[1];
  const std::string what = "expected " + s.raw[0] + " to read " + Quoted(s.values[1]) +
                           (held ? ": it does" : ", it reads " + Quoted(s.values[0]));
  const int runs = ++s.run.runs[s.here];
  s.run.host.expected(s.run.program.where(s.line), s.run.inLoop[s.here] || runs > 1 ? runs : 0, held, what);
  if (held) return Outcome::Done;
  s.why = what;
  return Outcome::ExpectFailed;
}

// If and While: on into the block when the comparison holds, else past it.
Outcome RunCondition(Step& s) {
  Operator op = Operator::Equal;
  ReadOperator(s.values[1], op);
  if (!Compare(s.values[0], op, s.values[2])) s.at = s.line.match + 1;
  return Outcome::Done;
}

Outcome RunElse(Step& s) {
  s.at = s.line.match + 1;  // the If's part ran: skip the Else part
  return Outcome::Done;
}

Outcome RunNothing(Step&) { return Outcome::Done; }

Outcome RunEndWhile(Step& s) {
  s.at = s.line.match;
  return Outcome::Done;
}

Outcome RunLoop(Step& s) {
  const int first = WholeNumber(s.values[0]), last = WholeNumber(s.values[1]);
  s.run.counts[s.here] = Count{true, first, last, first <= last ? 1 : -1};
  return Set(s, std::to_string(first));
}

Outcome RunEndLoop(Step& s) {
  Count& count = s.run.counts[s.line.match];
  if (!count.running) {
    s.why = "EndLoop reached without running its Loop (a GotoLine into the loop?)";
    return Outcome::Failed;
  }
  if (count.current == count.last) {
    count.running = false;
    return Outcome::Done;
  }
  count.current += count.step;
  s.run.host.setVariable(s.run.name(s.run.program.lines[s.line.match].statement.arguments[2]),
                         std::to_string(count.current));
  s.at = s.line.match + 1;
  return Outcome::Done;
}

Outcome RunExitLoop(Step& s) {
  s.run.counts[s.run.program.lines[s.line.match].match].running = false;
  s.at = s.line.match + 1;
  return Outcome::Done;
}

Outcome RunGotoLine(Step& s) {
  if (LabelLine(s.run.program, s.values[0], &s.at)) return Outcome::Done;
  s.why = NoLabel(s.values[0]);
  return Outcome::Failed;
}

Outcome RunMath(Step& s) {
  double value = 0;
  std::string error;
  if (!Evaluate(s.values[0], value, error)) {
    s.why = s.line.statement.name + ": " + Unreadable(s.values[0], error);
    return Outcome::Failed;
  }
  return Set(s, FormatNumber(value, WholeNumber(s.values[1])));
}

Outcome RunStrLen(Step& s) { return Set(s, std::to_string(s.values[0].size())); }

Outcome RunSubStr(Step& s) {
  const size_t start = static_cast<size_t>(WholeNumber(s.values[1]) - 1);
  const std::string& text = s.values[0];
  return Set(s, start < text.size() ? text.substr(start, WholeNumber(s.values[2])) : "");
}

Outcome RunSearchStr(Step& s) {
  const size_t found = s.values[0].empty() ? std::string::npos : s.values[1].find(s.values[0]);
  return Set(s, std::to_string(found == std::string::npos ? 0 : found + 1));
}

Outcome RunStrUpper(Step& s) { return Set(s, UpperCase(s.values[0])); }

Outcome RunStrLower(Step& s) { return Set(s, LowerCase(s.values[0])); }

// StrParse: the items of the text between the delimiters into array1,
// array2, ... and their number into the last argument's variable. An empty
// text has no items; an empty delimiter makes the whole text one.
Outcome RunStrParse(Step& s) {
  const std::string& text = s.values[0];
  const std::string& delimiter = s.values[1];
  const std::string array = s.run.name(s.raw[2]);
  size_t items = 0;
  for (size_t at = 0; !text.empty();) {
    const size_t end = delimiter.empty() ? std::string::npos : text.find(delimiter, at);
    s.run.host.setVariable(array + std::to_string(++items), text.substr(at, end - at));
    if (end == std::string::npos) break;
    at = end + delimiter.size();
  }
  return Set(s, std::to_string(items));
}

Outcome RunAlertBox(Step& s) {
  s.run.host.print(AlertLine(s.values[0], s.values[1]));
  return Outcome::Done;
}

using R = BlockRole;
using C = Check;

// The host's statements; Delay is Pause's other name.
const StatementForm kForms[] = {
    {"SetVar", Kind::SetVar, 2, R::None, Kind::Nothing, {}, RunSetVar},
    {"Print", Kind::Print, 1, R::None, Kind::Nothing, {}, RunPrint},
    {"Pause", Kind::Pause, 1, R::None, Kind::Nothing, {C::Milliseconds}, RunPause},
    {"Delay", Kind::Pause, 1, R::None, Kind::Nothing, {C::Milliseconds}, RunPause},
    {"Expect", Kind::Expect, 2, R::None, Kind::Nothing, {}, RunExpect},
    {"If", Kind::If, 3, R::Opens, Kind::EndIf, {C::Any, C::Operator}, RunCondition},
    {"Else", Kind::Else, 0, R::Else, Kind::If, {}, RunElse},
    {"EndIf", Kind::EndIf, 0, R::Closes, Kind::If, {}, RunNothing},
    {"While", Kind::While, 3, R::Opens, Kind::EndWhile, {C::Any, C::Operator}, RunCondition},
    {"EndWhile", Kind::EndWhile, 0, R::Closes, Kind::While, {}, RunEndWhile},
    {"Loop", Kind::Loop, 3, R::Opens, Kind::EndLoop, {C::WholeNumber, C::WholeNumber}, RunLoop},
    {"EndLoop", Kind::EndLoop, 0, R::Closes, Kind::Loop, {}, RunEndLoop},
    {"ExitLoop", Kind::ExitLoop, 0, R::Leaves, Kind::Nothing, {}, RunExitLoop},
    {"GotoLine", Kind::GotoLine, 1, R::None, Kind::Nothing, {}, RunGotoLine},
    {"Math", Kind::Math, 3, R::None, Kind::Nothing, {C::Expression, C::Decimals}, RunMath},
    {"StrLen", Kind::StrLen, 2, R::None, Kind::Nothing, {}, RunStrLen},
    {"SubStr", Kind::SubStr, 4, R::None, Kind::Nothing, {C::Any, C::Position, C::Length}, RunSubStr},
    {"SearchStr", Kind::SearchStr, 3, R::None, Kind::Nothing, {}, RunSearchStr},
    {"StrUpper", Kind::StrUpper, 2, R::None, Kind::Nothing, {}, RunStrUpper},
    {"StrLower", Kind::StrLower, 2, R::None, Kind::Nothing, {}, RunStrLower},
    {"StrParse", Kind::StrParse, 4, R::None, Kind::Nothing, {}, RunStrParse},
    {"AlertBox", Kind::AlertBox, 2, R::None, Kind::Nothing, {}, RunAlertBox},
};

}  // namespace

const StatementForm* FormOf(StatementKind kind) {
  for (const StatementForm& form : kForms) {
    if (form.kind == kind) return &form;
  }
  return nullptr;
}

const StatementForm* FormNamed(const std::string& word) {
  const std::string lower = LowerCase(word);
  for (const StatementForm& form : kForms) {
    if (lower == LowerCase(form.name)) return &form;
  }
  return nullptr;
}

std::string Program::where(const Line& line) const {
  const std::string number = std::to_string(line.number);
  return source.empty() ? "line " + number : source + ":" + number;
}

std::string CheckLine(const std::string& text, const ActionKnown& known, ParsedLine& parsed) {
  parsed = ParseLine(text);
  if (!parsed.ok) return parsed.error;
  const Statement& statement = parsed.statement;
  if (statement.kind == Kind::Action && known && !known(statement.name)) {
    return "no loaded plug-in has an action " + statement.name;
  }
  return ArgumentProblem(statement, statement.arguments, true);
}

bool Load(const std::vector<std::string>& text, const std::string& source, int firstNumber,
          Program& program, std::string& error, const ActionKnown& known) {
  program = Program();
  program.source = source;
  return Extend(program, text, firstNumber, error, known);
}

bool Extend(Program& program, const std::vector<std::string>& text, int firstNumber, std::string& error,
            const ActionKnown& known) {
  error.clear();
  const size_t from = program.lines.size();
  std::vector<std::string> labels;  // those these lines add
  for (size_t i = 0; i < text.size() && error.empty(); ++i) {
    Line line;
    line.number = firstNumber + static_cast<int>(i);
    ParsedLine parsed;
    std::string why = CheckLine(text[i], known, parsed);
    line.statement = parsed.statement;
    if (parsed.statement.kind == Kind::Label) {
      const auto added =
          program.labels.emplace(LowerCase(parsed.statement.name), program.lines.size());
      if (!added.second) {
        why = "the label :" + parsed.statement.name + " is already on line " +
              std::to_string(program.lines[added.first->second].number);
      } else {
        labels.push_back(added.first->first);
      }
    }
    if (!why.empty()) error = program.where(line) + ": " + why;
    if (parsed.statement.kind != Kind::Nothing) program.lines.push_back(line);
  }
  if (error.empty()) MatchBlocks(program, from, error);
  for (size_t i = from; i < program.lines.size() && error.empty(); ++i) {
    const Statement& statement = program.lines[i].statement;
    if (statement.kind != Kind::GotoLine) continue;
    const std::string& label = statement.arguments[0];
    if (label.find('[') == std::string::npos && !LabelLine(program, label)) {
      error = program.where(program.lines[i]) + ": " + NoLabel(label);
    }
  }
  if (error.empty()) return true;
  program.lines.resize(from);  // the program stays as it was
  for (const std::string& label : labels) program.labels.erase(label);
  return false;
}

Outcome Run(const Program& program, Host& host, std::string& message, size_t start) {
  return Interpreter(program, host).run(start, message);
}

}  // namespace nbrun
