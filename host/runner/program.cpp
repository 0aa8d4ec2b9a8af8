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

class Interpreter {
 public:
  Interpreter(const Program& program, Host& host)
      : program_(program), host_(host), counts_(program.lines.size()),
        runs_(program.lines.size()), inLoop_(InLoops(program)) {}

  Outcome run(size_t next, std::string& message) {
    while (next < program_.lines.size()) {
      const Line& line = program_.lines[next];
      host_.running(program_.where(line));
      std::string why;
      Outcome outcome = step(next, why);
      // Asked after the line, so a stop during it (a Pause cut short, an
      // action that took long) names that line, and the last line is no
      // exception.
      if (outcome == Outcome::Done) outcome = host_.stop(why);
      if (outcome != Outcome::Done) {
        message = program_.where(line) + ": " + why;
        return outcome;
      }
    }
    return Outcome::Done;
  }

 private:
  // Runs the line at `at` and moves `at` to the next one to run.
  Outcome step(size_t& at, std::string& why) {
    const size_t here = at++;
    const Line& line = program_.lines[here];
    const Statement& statement = line.statement;
    const std::vector<std::string>& raw = statement.arguments;
    std::vector<std::string> values;
    for (const std::string& argument : raw) values.push_back(expand(argument));
    why = ArgumentProblem(statement, values, false);
    if (!why.empty()) return Outcome::Failed;
    // The variable a statement writes is named by its last argument.
    const std::string target = raw.empty() ? "" : name(raw.back());
    int a = 0, b = 0;

    switch (statement.kind) {
      case Kind::Nothing:
      case Kind::Label:
      case Kind::EndIf: break;
      case Kind::Action:
        if (!host_.action(statement.name, values.empty() ? "" : values[0])) {
          why = "no loaded plug-in has an action " + statement.name;
          return Outcome::Failed;
        }
        break;
      case Kind::SetVar: host_.setVariable(name(raw[0]), values[1]); break;
      case Kind::Print: host_.print(values[0]); break;
      case Kind::Pause:
        ReadWholeNumber(values[0], a);
        host_.pause(a);
        break;
      case Kind::Expect: {
        const bool held = values[0] == values[1];
        const std::string what = "expected " + raw[0] + " to read " + Quoted(values[1]) +
                                 (held ? ": it does" : ", it reads " + Quoted(values[0]));
        const int runs = ++runs_[here];
        host_.expected(program_.where(line), inLoop_[here] || runs > 1 ? runs : 0, held, what);
        if (held) break;
        why = what;
        return Outcome::ExpectFailed;
      }
      case Kind::If:
      case Kind::While:
        if (!holds(values)) at = line.match + 1;
        break;
      case Kind::Else:
        at = line.match + 1;  // the If's part ran: skip the Else part
        break;
      case Kind::EndWhile: at = line.match; break;
      case Kind::Loop: {
        ReadWholeNumber(values[0], a);
        ReadWholeNumber(values[1], b);
        counts_[here] = Count{true, a, b, a <= b ? 1 : -1};
        host_.setVariable(target, std::to_string(a));
        break;
      }
      case Kind::EndLoop: {
        Count& count = counts_[line.match];
        if (!count.running) {
          why = "EndLoop reached without running its Loop (a GotoLine into the loop?)";
          return Outcome::Failed;
        }
        if (count.current == count.last) {
          count.running = false;
          break;
        }
        count.current += count.step;
        host_.setVariable(name(program_.lines[line.match].statement.arguments[2]),
                          std::to_string(count.current));
        at = line.match + 1;
        break;
      }
      case Kind::ExitLoop:
        counts_[program_.lines[line.match].match].running = false;
        at = line.match + 1;
        break;
      case Kind::GotoLine:
        if (!LabelLine(program_, values[0], &at)) {
          why = NoLabel(values[0]);
          return Outcome::Failed;
        }
        break;
      case Kind::Math: {
        double value = 0;
        std::string error;
        if (!Evaluate(values[0], value, error)) {
          why = statement.name + ": " + Unreadable(values[0], error);
          return Outcome::Failed;
        }
        ReadWholeNumber(values[1], a);
        host_.setVariable(target, FormatNumber(value, a));
        break;
      }
      case Kind::StrLen: host_.setVariable(target, std::to_string(values[0].size())); break;
      case Kind::SubStr: {
        ReadWholeNumber(values[1], a);
        ReadWholeNumber(values[2], b);
        const size_t start = static_cast<size_t>(a - 1);
        host_.setVariable(target, start < values[0].size() ? values[0].substr(start, b) : "");
        break;
      }
      case Kind::SearchStr: {
        const size_t found = values[0].empty() ? std::string::npos : values[1].find(values[0]);
        host_.setVariable(target, std::to_string(found == std::string::npos ? 0 : found + 1));
        break;
      }
      case Kind::StrUpper: host_.setVariable(target, UpperCase(values[0])); break;
      case Kind::StrLower: host_.setVariable(target, LowerCase(values[0])); break;
      case Kind::StrParse: parse(values[0], values[1], name(raw[2]), target); break;
      case Kind::AlertBox: host_.print(AlertLine(values[0], values[1])); break;
    }
    return Outcome::Done;
  }

  bool holds(const std::vector<std::string>& values) const {
    Operator op = Operator::Equal;
    ReadOperator(values[1], op);
    return Compare(values[0], op, values[2]);
  }

  std::string expand(const std::string& text) {
    return Substitute(text, [this](const std::string& name) { return host_.variable(name); });
  }

  // The variable an argument names, with the brackets inside its name
  // substituted: "[item[i]]" names item3 while i is 3.
  std::string name(const std::string& argument) { return expand(VariableName(argument)); }

  // StrParse: the items of `text` between the delimiters into array1,
  // array2, ... and their number into `count`. An empty text has no items;
  // an empty delimiter makes the whole text one.
  void parse(const std::string& text, const std::string& delimiter, const std::string& array,
             const std::string& count) {
    size_t items = 0;
    for (size_t at = 0; !text.empty();) {
      const size_t end = delimiter.empty() ? std::string::npos : text.find(delimiter, at);
      host_.setVariable(array + std::to_string(++items), text.substr(at, end - at));
      if (end == std::string::npos) break;
      at = end + delimiter.size();
    }
    host_.setVariable(count, std::to_string(items));
  }

  const Program& program_;
  Host& host_;
  std::vector<Count> counts_;  // by the Loop line's index
  std::vector<int> runs_;      // how many times each Expect line has run
  std::vector<bool> inLoop_;   // by line: inside a While or Loop block
};

}  // namespace

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
