#include "host/runner/session.h"

#include "host/runner/script.h"

namespace nbrun {
namespace {

// Blocks the lines open and do not close; below 1 when they are complete
// (or close more than they open, which loading then refuses).
int OpenBlocks(const std::vector<std::string>& lines, size_t from) {
  int depth = 0;
  for (size_t i = from; i < lines.size(); ++i) {
    switch (ParseLine(lines[i]).statement.kind) {
      case StatementKind::If:
      case StatementKind::While:
      case StatementKind::Loop: ++depth; break;
      case StatementKind::EndIf:
      case StatementKind::EndWhile:
      case StatementKind::EndLoop:
        if (--depth < 0) return depth;
        break;
      default: break;
    }
  }
  return depth;
}

}  // namespace

Outcome Session::feed(const std::string& line, Host& host, std::string& message) {
  message.clear();
  ParsedLine parsed;
  const std::string why = CheckLine(line, known_, parsed);
  if (!why.empty()) {
    message = "line " + std::to_string(typed_.size() + 1) + ": " + why;
    typed_.emplace_back();
    if (waiting_ > 0) ++waiting_;
    return Outcome::Failed;
  }
  typed_.push_back(line);
  const size_t first = typed_.size() - ++waiting_;  // the first line of what is completed
  if (OpenBlocks(typed_, first) > 0) return Outcome::Done;
  waiting_ = 0;

  Program program;
  if (!Load(typed_, "", 1, program, message, known_)) {
    for (size_t i = first; i < typed_.size(); ++i) typed_[i].clear();
    return Outcome::Failed;
  }
  size_t start = 0;
  while (start < program.lines.size() &&
         program.lines[start].number <= static_cast<int>(first)) {
    ++start;
  }
  return Run(program, host, message, start);
}

std::string Session::end() const {
  if (waiting_ == 0) return std::string();
  Program program;
  std::string error;
  Load(typed_, "", 1, program, error, known_);
  return error;
}

bool IsQuit(const std::string& line) {
  const size_t begin = line.find_first_not_of(" \t");
  const size_t end = line.find_last_not_of(" \t");
  return begin != std::string::npos && LowerCase(line.substr(begin, end - begin + 1)) == "quit";
}

}  // namespace nbrun
